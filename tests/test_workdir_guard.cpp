// The work folder's protection: the DACL the program builds and applies, the
// owner rule, and the hold that keeps the folder from being renamed.
#include <gtest/gtest.h>
#include "testutil.h"
#include "workdir_guard.h"
#include "link.h"
#include <sddl.h>

namespace {

struct SidBuf {
    BYTE ab[SECURITY_MAX_SID_SIZE];
    PSID Get() { return (PSID)ab; }
};

SidBuf WellKnown(WELL_KNOWN_SID_TYPE e)
{
    SidBuf s;
    DWORD cb = sizeof(s.ab);
    EXPECT_TRUE(CreateWellKnownSid(e, NULL, s.ab, &cb));
    return s;
}

SidBuf FromString(const char* psz)
{
    SidBuf s;
    PSID p = NULL;
    EXPECT_TRUE(ConvertStringSidToSidA(psz, &p));
    CopySid(sizeof(s.ab), s.ab, p);
    LocalFree(p);
    return s;
}

} // namespace

TEST(WorkDirSecurity, ProtectedDaclForSystemAdministratorsAndUsers)
{
    PSECURITY_DESCRIPTOR pSd = utl_BuildWorkDirSecurity();
    ASSERT_NE(nullptr, pSd);
    // P: nothing inherited from C:\tmp or the drive's root. OICI: everything
    // made inside inherits the same entries. 0x1200a9: read and execute.
    EXPECT_EQ("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", utl_SecurityToSddl(pSd));

    SECURITY_DESCRIPTOR_CONTROL wControl = 0;
    DWORD dwRev = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(pSd, &wControl, &dwRev));
    EXPECT_TRUE(wControl & SE_DACL_PROTECTED);
    BOOL bPresent = FALSE, bDefaulted = FALSE;
    PACL pAcl = NULL;
    ASSERT_TRUE(GetSecurityDescriptorDacl(pSd, &bPresent, &pAcl, &bDefaulted));
    ASSERT_TRUE(bPresent);
    ASSERT_EQ(3, pAcl->AceCount);
    // No entry grants ordinary users (or anyone else) the right to write.
    SidBuf users = WellKnown(WinBuiltinUsersSid);
    for (DWORD i = 0; i < pAcl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* pAce = NULL;
        ASSERT_TRUE(GetAce(pAcl, i, (void**)&pAce));
        if (EqualSid((PSID)&pAce->SidStart, users.Get())) {
            EXPECT_EQ(0u, pAce->Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER));
            EXPECT_EQ((DWORD)(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), pAce->Mask);
        }
    }
    LocalFree(pSd);
}

// Wine keeps no DACL on files (what is read back comes from the unix mode),
// so the folder's DACL cannot be read back here; what can fail is the
// system's answer: a handle without the right to change the DACL is refused.
TEST(WorkDirSecurity, AppliedToARealFolder)
{
    std::string dir = kt::NewTempFolder("protect");
    EXPECT_EQ(1, utl_ProtectWorkDir(dir.c_str()));
    HANDLE hRead = utl_OpenOwnFolder(dir.c_str(), 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, hRead);
    EXPECT_EQ(0, utl_ProtectFolderHandle(hRead));
    utl_CloseHandle(hRead);
    EXPECT_EQ(0, utl_ProtectWorkDir((dir + "\\missing").c_str()));
    EXPECT_EQ(0, utl_ProtectWorkDir(NULL));
}

TEST(WorkDirOwner, OnlyAdministratorsSystemAndThisUserAreTrusted)
{
    EXPECT_EQ(1, utl_IsTrustedOwnerSid(WellKnown(WinBuiltinAdministratorsSid).Get()));
    EXPECT_EQ(1, utl_IsTrustedOwnerSid(WellKnown(WinLocalSystemSid).Get()));
    // The user this program runs as (an administrator, checked at start).
    HANDLE hToken = NULL;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken));
    BYTE abUser[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD cb = 0;
    ASSERT_TRUE(GetTokenInformation(hToken, TokenUser, abUser, sizeof(abUser), &cb));
    CloseHandle(hToken);
    EXPECT_EQ(1, utl_IsTrustedOwnerSid(((TOKEN_USER*)abUser)->User.Sid));

    // Another local user, ordinary users, everyone, authenticated users,
    // interactive logons: none may own what the elevated setup runs.
    const char* const apszUntrusted[] = {"S-1-5-21-1111111111-2222222222-3333333333-1001", "S-1-5-32-545",
                                         "S-1-1-0", "S-1-5-11", "S-1-5-4", "S-1-5-32-547"};
    for (const char* psz : apszUntrusted)
        EXPECT_EQ(0, utl_IsTrustedOwnerSid(FromString(psz).Get())) << psz;
    EXPECT_EQ(0, utl_IsTrustedOwnerSid(NULL));
}

// The sweep removes links at any depth, as links, and nothing of the
// program's own. (Wine keeps no owner on files, so an entry of another
// owner cannot be planted here.)
TEST(WorkDirOwner, FoldersMadeByThisProgramAreTrusted)
{
    std::string dir = kt::NewTempFolder("owner");
    std::string strOut = kt::NewTempFolder("ownerout");
    ASSERT_TRUE(kt::WriteBytes(dir + "\\mine.txt", "x"));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\sub\\mine.txt", "x"));
    ASSERT_TRUE(kt::WriteBytes(strOut + "\\target.dll", "outside"));
    ASSERT_TRUE(CreateHardLinkA((dir + "\\sub\\planted.dll").c_str(), (strOut + "\\target.dll").c_str(), NULL));
    EXPECT_EQ(1, utl_IsOwnerTrusted(dir.c_str()));
    EXPECT_EQ(1, utl_IsOwnerTrusted((dir + "\\mine.txt").c_str()));
    EXPECT_EQ(0, utl_IsOwnerTrusted((dir + "\\sub\\planted.dll").c_str()));
    // An owner that cannot be read is not trusted.
    EXPECT_EQ(0, utl_IsOwnerTrusted((dir + "\\missing").c_str()));
    EXPECT_EQ(1, utl_RemoveUntrustedEntries(dir.c_str()));
    EXPECT_EQ(std::vector<std::string>({"mine.txt", "sub"}), kt::ListFolder(dir));
    EXPECT_EQ(std::vector<std::string>({"mine.txt"}), kt::ListFolder(dir + "\\sub"));
    EXPECT_EQ("outside", kt::ReadBytes(strOut + "\\target.dll"));
}

TEST(WorkDirHold, HeldFolderCannotBeRenamedOrRemoved)
{
    std::string dir = kt::NewTempFolder("hold");
    std::string held = dir + "\\KavlaSetup0";
    ASSERT_TRUE(kt::WriteBytes(held + "\\KavlaSetup.exe", "payload"));
    HANDLE h = utl_OpenOwnFolder(held.c_str(), 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_FALSE(MoveFileA(held.c_str(), (dir + "\\moved").c_str()));
    EXPECT_FALSE(RemoveDirectoryA(held.c_str()));
    EXPECT_TRUE(kt::Exists(held + "\\KavlaSetup.exe"));
    utl_CloseHandle(h);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    EXPECT_TRUE(MoveFileA(held.c_str(), (dir + "\\moved").c_str()));
    EXPECT_EQ(INVALID_HANDLE_VALUE, utl_OpenOwnFolder((dir + "\\missing").c_str(), 0));
}
