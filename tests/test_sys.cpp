// System and registry utilities, and the entry's free-space decision.
#include <gtest/gtest.h>
#include "preconditions.h"
#include "reg.h"
#include "sys.h"
#include "testutil.h"
#include <algorithm>
#include <string>

TEST(IsCurUserAdmin, TheTestUserIsAnAdministrator)
{
    // Wine grants every process the Administrators group.
    EXPECT_EQ(1, IsCurUserAdmin());
    EXPECT_TRUE(kt::LogMessages(kt::ReadBytes("c:\\KavlaLog\\IsCurUserAdmin" + kt::TodayStamp() + ".log")).empty());
}

TEST(GetSysDrive, LetterOfTheSystemFolder)
{
    char sz[261] = "unchanged";
    ASSERT_EQ(1, utl_GetSysDrive("setup", sz, 261));
    EXPECT_STREQ("C", sz);
    ASSERT_EQ(1, utl_GetSysDrive("setup", sz, 260));
    EXPECT_TRUE(kt::LogMessages(kt::UtlLogText("setup")).empty());
}

TEST(GetSysDrive, SmallBufferIsRefusedAndLogged)
{
    char sz[261] = "unchanged";
    EXPECT_EQ(0, utl_GetSysDrive("setup", sz, 259));
    EXPECT_STREQ("unchanged", sz);
    std::vector<std::string> lines = kt::LogMessages(kt::UtlLogText("setup"));
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("the len in is too small", lines[0]);
}

TEST(GetDiskFreeSpace, KnownDriveAndMissingPath)
{
    unsigned long long ull = utl_GetDiskFreeSpace("C:");
    EXPECT_NE(~0ULL, ull);
    EXPECT_GT(ull, 0ULL);
    EXPECT_EQ(~0ULL, utl_GetDiskFreeSpace("Q:\\no\\such\\folder\\"));
    EXPECT_EQ(~0ULL, utl_GetDiskFreeSpace("C:\\no\\such\\folder\\"));
}

namespace {

// Puts the kernel32 table back whatever a test replaced.
struct KernelApiRestore {
    UtlKernelApi saved = utl_KernelApi();
    ~KernelApiRestore() { utl_KernelApi() = saved; }
};

} // namespace

// Without GetDiskFreeSpaceExA the free space comes from the cluster counts:
// the same bytes as the system's own answer, bar what others write meanwhile.
TEST(GetDiskFreeSpace, SimulatedSystemWithoutGetDiskFreeSpaceExStillMeasuresTheDrive)
{
    ASSERT_NE(nullptr, utl_KernelApi().pfnGetDiskFreeSpaceEx);
    const unsigned long long ullSlack = 256ULL << 20;
    unsigned long long ullBefore = utl_GetDiskFreeSpace("C:\\");
    unsigned long long ullSimulated = 0, ullMissing = 0;
    {
        KernelApiRestore restore;
        utl_KernelApi().pfnGetDiskFreeSpaceEx = NULL;
        ullSimulated = utl_GetDiskFreeSpace("C:\\");
        ullMissing = utl_GetDiskFreeSpace("C:\\no\\such\\folder\\");
    }
    unsigned long long ullAfter = utl_GetDiskFreeSpace("C:\\");
    ASSERT_NE(~0ULL, ullBefore);
    ASSERT_NE(~0ULL, ullAfter);
    EXPECT_GE(ullSimulated + ullSlack, std::min(ullBefore, ullAfter)) << ullSimulated << " vs " << ullBefore;
    EXPECT_LE(ullSimulated, std::max(ullBefore, ullAfter) + ullSlack) << ullSimulated << " vs " << ullBefore;
    EXPECT_EQ(~0ULL, ullMissing);
}

// Without SetDefaultDllDirectories a DLL in the current folder is no longer
// loaded by name, as with it; the program's own folder stays searched there.
// Each load asks for a name not loaded yet: a loaded module is found by name
// wherever the search would look.
TEST(RestrictDllSearch, SimulatedSystemWithoutSetDefaultDllDirectoriesKeepsTheCurrentFolderOut)
{
    ASSERT_NE(nullptr, utl_KernelApi().pfnSetDefaultDllDirectories);
    std::string dir = kt::NewTempFolder("dllsearch");
    for (const char* pszName : {"probe_default.dll", "probe_fallback.dll", "probe_system.dll"})
        ASSERT_TRUE(CopyFileA(kt::TestBinPath("kavlaprobe.dll").c_str(), (dir + "\\" + pszName).c_str(), FALSE));
    char szOldDir[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, szOldDir));
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    // The system's default search finds one there: what follows can tell.
    EXPECT_NE(nullptr, LoadLibraryA("probe_default.dll"));
    {
        KernelApiRestore restore;
        utl_KernelApi().pfnSetDefaultDllDirectories = NULL;
        EXPECT_EQ(0, utl_RestrictDllSearch());
        EXPECT_EQ(nullptr, LoadLibraryA("probe_fallback.dll")) << "loaded from the current folder";
        SetDllDirectoryA(NULL);
    }
    // The system's own restriction, which no call takes back: last.
    EXPECT_EQ(1, utl_RestrictDllSearch());
    EXPECT_EQ(nullptr, LoadLibraryA("probe_system.dll")) << "loaded from the current folder";
    SetCurrentDirectoryA(szOldDir);
}

TEST(FreeSpaceRule, ThreeHundredWholeMegabytes)
{
    const unsigned long long MB = 1048576ULL;
    EXPECT_FALSE(IsFreeSpaceEnough(0));
    EXPECT_FALSE(IsFreeSpaceEnough(299 * MB));
    EXPECT_FALSE(IsFreeSpaceEnough(300 * MB - 1));
    EXPECT_TRUE(IsFreeSpaceEnough(300 * MB));
    EXPECT_TRUE(IsFreeSpaceEnough(300 * MB + 1));
    EXPECT_TRUE(IsFreeSpaceEnough(1ULL << 40));
    // Unknown free space lets the setup go on.
    EXPECT_TRUE(IsFreeSpaceEnough(~0ULL));
}

TEST(Registry, DwordValuesInThe32BitView)
{
    const std::string key = "SOFTWARE\\Kavla";
    DWORD dw = 7;
    EXPECT_EQ(0, utl_RegReadDword(HKEY_LOCAL_MACHINE, key.c_str(), "InstallByMsi", &dw));
    EXPECT_EQ(7u, dw);
    ASSERT_EQ(1, utl_RegWriteDword(HKEY_LOCAL_MACHINE, key.c_str(), "InstallByMsi", 1));
    ASSERT_EQ(1, utl_RegReadDword(HKEY_LOCAL_MACHINE, key.c_str(), "InstallByMsi", &dw));
    EXPECT_EQ(1u, dw);
    EXPECT_EQ(0, utl_RegReadDword(HKEY_LOCAL_MACHINE, key.c_str(), "InstallByMsi", NULL));
    // Written where a 32-bit program looks.
    DWORD dwSeen = 0;
    ASSERT_TRUE(kt::RegGetDword(key, "InstallByMsi", &dwSeen));
    EXPECT_EQ(1u, dwSeen);
#ifdef _WIN64
    HKEY h = NULL;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &h));
#endif
    // Four bytes whatever the stored type: a short string value fits.
    ASSERT_TRUE(kt::RegSetString(key, "Text", "abc"));
    ASSERT_EQ(1, utl_RegReadDword(HKEY_LOCAL_MACHINE, key.c_str(), "Text", &dw));
    EXPECT_EQ(0x00636261u, dw);
    ASSERT_TRUE(kt::RegSetString(key, "Long", "abcdefgh"));
    EXPECT_EQ(0, utl_RegReadDword(HKEY_LOCAL_MACHINE, key.c_str(), "Long", &dw));
    kt::RegDeleteKeyTree(key);
    EXPECT_EQ(0, utl_RegReadDword(HKEY_LOCAL_MACHINE, key.c_str(), "InstallByMsi", &dw));
}

TEST(Registry, StringSizeRule)
{
    const std::string key = "SOFTWARE\\Kavla";
    ASSERT_TRUE(kt::RegSetString(key, "Six", "123456"));
    ASSERT_TRUE(kt::RegSetString(key, "Five", "12345"));
    char sz[6 + 1] = "xxxxxx";
    EXPECT_EQ(0, utl_RegReadString(HKEY_LOCAL_MACHINE, key.c_str(), "Six", sz, 5));
    EXPECT_STREQ("xxxxxx", sz);
    ASSERT_EQ(1, utl_RegReadString(HKEY_LOCAL_MACHINE, key.c_str(), "Five", sz, 5));
    EXPECT_STREQ("12345", sz);
    EXPECT_EQ(0, utl_RegReadString(HKEY_LOCAL_MACHINE, key.c_str(), "Missing", sz, 5));
    EXPECT_EQ(0, utl_RegReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\NoSuchKey", "Five", sz, 5));
    EXPECT_EQ(0, utl_RegReadString(HKEY_LOCAL_MACHINE, key.c_str(), "Five", NULL, 5));
    // Values longer than a path fail whatever the buffer.
    ASSERT_TRUE(kt::RegSetString(key, "Path260", std::string(259, 'p')));
    ASSERT_TRUE(kt::RegSetString(key, "Path261", std::string(260, 'p')));
    char big[400];
    EXPECT_EQ(1, utl_RegReadString(HKEY_LOCAL_MACHINE, key.c_str(), "Path260", big, 300));
    EXPECT_EQ(259u, strlen(big));
    EXPECT_EQ(0, utl_RegReadString(HKEY_LOCAL_MACHINE, key.c_str(), "Path261", big, 300));
}
