// Held folders: names freed at once by a delete, the program's own answer
// where the system cannot tell what an entry is, and listings. (Entries
// reached through another drive letter are run whole in
// tests/sh/test_link_safety.sh.) Answers that only some Windows give are
// simulated by replacing one ntdll call (tests named Simulated*).
#include <gtest/gtest.h>
#include "held.h"
#include "link.h"
#include "testutil.h"
#include <algorithm>
#include <string>
#include <vector>

namespace {

const LONG STATUS_ACCESS_DENIED_ = (LONG)0xC0000022;
const LONG STATUS_INVALID_INFO_CLASS_ = (LONG)0xC0000003;

// Puts the ntdll table back whatever a test replaced.
struct NtApiRestore {
    UtlNtApi saved = utl_NtApi();
    ~NtApiRestore() { utl_NtApi() = saved; }
};

LONG NTAPI NameQueryFails(HANDLE, ULONG, PVOID, ULONG, PULONG)
{
    return STATUS_ACCESS_DENIED_;
}

// The POSIX delete (FileDispositionInformationEx) of Windows 10 refused, as
// older systems and other file systems refuse it.
UtlNtFileInfoFn g_pfnRealSet = NULL;
LONG NTAPI NoPosixDelete(HANDLE h, PVOID pIosb, PVOID pInfo, ULONG cb, ULONG ulClass)
{
    return ulClass == 64 ? STATUS_INVALID_INFO_CLASS_ : g_pfnRealSet(h, pIosb, pInfo, cb, ulClass);
}

} // namespace

// When the system cannot name the object a handle holds, the entry is not
// the program's own: not opened, not deleted, counted as a link.
TEST(HeldIdentity, SimulatedNameQueryFailureIsNotOwn)
{
    std::string dir = kt::NewTempFolder("noname");
    ASSERT_TRUE(kt::WriteBytes(dir + "\\entry.txt", "kept"));
    {
        NtApiRestore restore;
        utl_NtApi().pfnQueryObject = NameQueryFails;
        EXPECT_EQ(1, utl_IsLink((dir + "\\entry.txt").c_str()));
        EXPECT_EQ(INVALID_HANDLE_VALUE, utl_OpenOwnFile((dir + "\\entry.txt").c_str(), GENERIC_WRITE, 0, OPEN_EXISTING));
        utl_DeleteOwnFile((dir + "\\entry.txt").c_str());
        UtlFolder folder;
        EXPECT_EQ(0, utl_HoldFolder(dir.c_str(), 0, &folder, NULL));
    }
    EXPECT_EQ("kept", kt::ReadBytes(dir + "\\entry.txt"));
    EXPECT_EQ(0, utl_IsLink((dir + "\\entry.txt").c_str()));
}

// A scanner holds a file open with delete sharing. The file is deleted and
// a new file of the same name is made at once, with the system's POSIX
// delete and, simulated, without it; nothing is left behind once the
// scanner lets go.
TEST(HeldDelete, NameIsFreeAtOnceWhileAnotherHandleIsOpen)
{
    for (int bSimulated = 0; bSimulated < 2; ++bSimulated) {
        SCOPED_TRACE(bSimulated ? "simulated: no POSIX delete" : "the system's delete");
        std::string dir = kt::NewTempFolder(bSimulated ? "pending_sim" : "pending");
        std::string file = dir + "\\KavlaSetup.exe";
        ASSERT_TRUE(kt::WriteBytes(file, "old"));
        ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
        HANDLE hScanner = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, hScanner);
        {
            NtApiRestore restore;
            g_pfnRealSet = restore.saved.pfnSetInformationFile;
            if (bSimulated)
                utl_NtApi().pfnSetInformationFile = NoPosixDelete;
            utl_DeleteOwnFile(file.c_str());
            HANDLE hNew = utl_OpenOwnFile(file.c_str(), GENERIC_WRITE, 0, CREATE_NEW);
            EXPECT_NE(INVALID_HANDLE_VALUE, hNew) << "error " << GetLastError();
            DWORD dw = 0;
            EXPECT_TRUE(WriteFile(hNew, "new", 3, &dw, NULL));
            utl_CloseHandle(hNew);
        }
        CloseHandle(hScanner);
        EXPECT_EQ("new", kt::ReadBytes(file));
        EXPECT_EQ(std::vector<std::string>({"KavlaSetup.exe"}), kt::ListFolder(dir));
    }
}

// A folder held for the whole run is listed as it stands at each listing,
// by the file functions' patterns, and a listing's callback may delete in it.
TEST(HeldList, EachListingSeesTheFolderAsItIsNow)
{
    std::string dir = kt::NewTempFolder("list");
    ASSERT_TRUE(kt::WriteBytes(dir + "\\setup2026120303.log", "a"));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\setup2026120403.txt", "b"));
    ASSERT_TRUE(CreateDirectoryA((dir + "\\Qt").c_str(), NULL));
    UtlFolder folder;
    ASSERT_TRUE(utl_HoldFolder(dir.c_str(), 0, &folder, NULL));
    typedef std::vector<std::string> Names;
    auto list = [&](const char* pszPattern) {
        Names names;
        EXPECT_TRUE(utl_ListAt(&folder, pszPattern,
                               [](void* pv, const UtlFolder*, const char* pszName, DWORD dwAttributes) {
                                   ((Names*)pv)->push_back(std::string(pszName)
                                                           + ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "\\" : ""));
                               },
                               &names));
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(Names({"Qt\\", "setup2026120303.log", "setup2026120403.txt"}), list("*.*"));
    EXPECT_EQ(Names({"setup2026120303.log"}), list("SETUP*03.LOG"));
    EXPECT_EQ(Names({"Qt\\"}), list("?t"));
    // Changes made after the first listing show in the next one.
    ASSERT_TRUE(kt::WriteBytes(dir + "\\setup2026121003.log", "c"));
    ASSERT_TRUE(DeleteFileA((dir + "\\setup2026120403.txt").c_str()));
    EXPECT_EQ(Names({"setup2026120303.log", "setup2026121003.log"}), list("setup*03.log"));
    EXPECT_TRUE(utl_ListAt(&folder, "setup*.log",
                           [](void*, const UtlFolder* pFolder, const char* pszName, DWORD) {
                               utl_DeleteAt(pFolder, pszName);
                           },
                           NULL));
    EXPECT_EQ(Names({"Qt\\"}), list("*"));
    utl_ReleaseFolder(&folder);
}
