// The work folder's protection: the DACL the program gives it at creation,
// the rule for using an existing one again, and the hold that keeps the
// folder from being renamed.
#include <gtest/gtest.h>
#include "testutil.h"
#include "workdir_guard.h"
#include "link.h"
#include "pack.h"
#include "file.h"
#include <aclapi.h>
#include <sddl.h>
#include <string.h>

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

// A volume that answers as FAT32 does: no FILE_PERSISTENT_ACLS.
LONG NTAPI NoPersistentAcls(HANDLE, PVOID, PVOID pInfo, ULONG cb, ULONG)
{
    memset(pInfo, 0, cb);
    return 0;
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

namespace {

// The descriptor as the system reads it back from a folder (Wine keeps only
// what the unix mode bits can say: a folder made without one reads back with
// "Everyone: read and execute").
bool GrantsEveryone(const std::string& strFolder, DWORD dwRights)
{
    PACL pAcl = NULL;
    PSECURITY_DESCRIPTOR pSd = NULL;
    EXPECT_EQ((DWORD)ERROR_SUCCESS, GetNamedSecurityInfoA(strFolder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                          NULL, NULL, &pAcl, NULL, &pSd));
    SidBuf everyone = WellKnown(WinWorldSid);
    bool bGrants = !pAcl;
    for (DWORD i = 0; pAcl && i < pAcl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* pAce = NULL;
        if (GetAce(pAcl, i, (void**)&pAce) && pAce->Header.AceType == ACCESS_ALLOWED_ACE_TYPE
            && EqualSid((PSID)&pAce->SidStart, everyone.Get()) && (pAce->Mask & dwRights))
            bGrants = true;
    }
    LocalFree(pSd);
    return bGrants;
}

void GrantEveryoneFullControl(const std::string& strFolder)
{
    PSECURITY_DESCRIPTOR pSd = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;WD)(A;OICI;FA;;;BA)",
                                                                     SDDL_REVISION_1, &pSd, NULL));
    BOOL bPresent = FALSE, bDefaulted = FALSE;
    PACL pAcl = NULL;
    GetSecurityDescriptorDacl(pSd, &bPresent, &pAcl, &bDefaulted);
    ASSERT_EQ((DWORD)ERROR_SUCCESS, SetNamedSecurityInfoA((LPSTR)strFolder.c_str(), SE_FILE_OBJECT,
                                                          DACL_SECURITY_INFORMATION, NULL, NULL, pAcl, NULL));
    LocalFree(pSd);
}

int IsOwnWorkFolder(const std::string& strFolder)
{
    UtlFolder folder;
    int n = utl_HoldOwnFolder(strFolder.c_str(), 0, &folder) && utl_IsOwnWorkFolder(folder.hFolder);
    utl_ReleaseFolder(&folder);
    return n;
}

const std::string kTmp = "C:\\tmp", kWork = "C:\\tmp\\KavlaSetup0";

} // namespace

// C:\tmp and the work folder get their descriptor when they are made: what
// reads back grants Everyone nothing, and both are the setup's own.
TEST(WorkDirSecurity, GivenAtCreationToTmpAndTheWorkFolder)
{
    kt::RemoveTree(kTmp);
    char sz[UTL_MAX_PATH];
    ASSERT_EQ(1, utl_CreateTmpDir(sz, sizeof(sz), "KavlaSetup", 0, 0));
    EXPECT_EQ(kWork, sz);
    for (const std::string& folder : {kTmp, kWork}) {
        EXPECT_FALSE(GrantsEveryone(folder, GENERIC_ALL | FILE_ALL_ACCESS)) << folder;
        EXPECT_EQ(1, IsOwnWorkFolder(folder)) << folder;
    }
}

// The folder of an earlier run is used again with its subfolders; one that
// others may write in is not: it is moved aside and a new one made.
TEST(WorkDirAdoption, OnlyAFolderNobodyElseCanWriteInIsUsedAgain)
{
    kt::RemoveTree(kTmp);
    char sz[UTL_MAX_PATH];
    ASSERT_EQ(1, utl_CreateTmpDir(sz, sizeof(sz), "KavlaSetup", 0, 0));
    ASSERT_TRUE(kt::WriteBytes(kWork + "\\keep\\kept.txt", "kept"));
    ASSERT_EQ(1, utl_CreateTmpDir(sz, sizeof(sz), "KavlaSetup", 0, 0));
    EXPECT_EQ("kept", kt::ReadBytes(kWork + "\\keep\\kept.txt"));

    GrantEveryoneFullControl(kWork);
    ASSERT_TRUE(GrantsEveryone(kWork, FILE_WRITE_DATA));
    EXPECT_EQ(0, IsOwnWorkFolder(kWork));
    ASSERT_EQ(1, utl_CreateTmpDir(sz, sizeof(sz), "KavlaSetup", 0, 0));
    EXPECT_TRUE(kt::ListFolder(kWork).empty());
    EXPECT_FALSE(GrantsEveryone(kWork, GENERIC_ALL | FILE_ALL_ACCESS));
    EXPECT_EQ(std::vector<std::string>({"KavlaSetup0"}), kt::ListFolder(kTmp));
}

// FAT32 and exFAT keep no security (XP's system drive, often): whatever the
// system makes up for the folder's owner and DACL, the folder is used, and
// the log says that it cannot be protected there.
TEST(WorkDirAdoption, SimulatedVolumeWithoutAclsIsUsedAndLogged)
{
    kt::RemoveTree(kTmp);
    ASSERT_TRUE(kt::WriteBytes(kWork + "\\keep\\kept.txt", "kept"));
    GrantEveryoneFullControl(kWork);
    UtlNtApi saved = utl_NtApi();
    utl_NtApi().pfnQueryVolumeInformationFile = NoPersistentAcls;
    UtlFolder tmp, work;
    char sz[UTL_MAX_PATH];
    int nMade = utl_CreateTmpDirHeld(sz, sizeof(sz), "KavlaSetup", 0, 0, &tmp, &work);
    utl_NtApi() = saved;
    ASSERT_EQ(1, nMade);
    utl_ReleaseFolder(&work);
    utl_ReleaseFolder(&tmp);
    EXPECT_EQ("kept", kt::ReadBytes(kWork + "\\keep\\kept.txt"));
    EXPECT_TRUE(kt::HasLine(kt::LogMessages(kt::SetupLogText()),
                            "The work folder cannot be protected on this volume: it keeps no security."));
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

TEST(WorkDirHold, HeldFolderCannotBeRenamedOrRemoved)
{
    std::string dir = kt::NewTempFolder("hold");
    std::string held = dir + "\\KavlaSetup0";
    ASSERT_TRUE(kt::WriteBytes(held + "\\KavlaSetup.exe", "payload"));
    UtlFolder folder;
    ASSERT_TRUE(utl_HoldOwnFolder(held.c_str(), 0, &folder));
    EXPECT_FALSE(MoveFileA(held.c_str(), (dir + "\\moved").c_str()));
    EXPECT_FALSE(RemoveDirectoryA(held.c_str()));
    EXPECT_TRUE(kt::Exists(held + "\\KavlaSetup.exe"));
    utl_ReleaseFolder(&folder);
    EXPECT_EQ(INVALID_HANDLE_VALUE, folder.hFolder);
    EXPECT_TRUE(MoveFileA(held.c_str(), (dir + "\\moved").c_str()));
    EXPECT_FALSE(utl_HoldOwnFolder((dir + "\\missing").c_str(), 0, &folder));
}
