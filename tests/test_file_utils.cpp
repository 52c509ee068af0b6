// File and folder utilities on real files of the test's prefix.
#include <gtest/gtest.h>
#include "file.h"
#include "testutil.h"

TEST(PathJoin, JoinsWithBackslashAndRefusesToCut)
{
    char sz[UTL_MAX_PATH];
    ASSERT_TRUE(utl_PathJoin(sz, sizeof(sz), "C:\\tmp", "a.txt"));
    EXPECT_STREQ("C:\\tmp\\a.txt", sz);
    ASSERT_TRUE(utl_PathJoin(sz, sizeof(sz), "", "a"));
    EXPECT_STREQ("\\a", sz);
    // 255 + 1 + 3 = 259 characters fit; one more reaches the limit.
    std::string strFolder(255, 'f');
    EXPECT_TRUE(utl_PathJoin(sz, sizeof(sz), strFolder.c_str(), "abc"));
    EXPECT_FALSE(utl_PathJoin(sz, sizeof(sz), strFolder.c_str(), "abcd"));
    EXPECT_STREQ("", sz);
    char szSmall[8];
    EXPECT_FALSE(utl_PathJoin(szSmall, sizeof(szSmall), "C:\\x", "abc"));
    EXPECT_TRUE(utl_PathJoin(szSmall, sizeof(szSmall), "C:", "abcd"));
    EXPECT_FALSE(utl_PathJoin(sz, sizeof(sz), NULL, "a"));
}

TEST(PlainFileName, AcceptsBareNamesOnly)
{
    const char* const apszGood[] = {"a.txt", "Qt.7z", "office-cfg.xml", "KavlaComponent.exe",
                                    "^Kavla_end^", "name with space.txt", "..a", "a..b", "CONFIG.SYS",
                                    "COM10", "\xc4\xe3\xba\xc3.txt"};
    for (const char* psz : apszGood)
        EXPECT_TRUE(utl_IsPlainFileName(psz)) << psz;
    const char* const apszBad[] = {"", ".", "..", "..\\..\\x.dll", "C:\\x", "sub\\x", "a/b",
                                   "name:stream", "C:x", "a*", "a?", "a\"b", "a<b", "a>b", "a|b",
                                   "trail.", "trail ", "CON", "con.txt", "NUL", "Com1", "lpt9.log",
                                   "AUX.", "\x01x", "tab\tname"};
    for (const char* psz : apszBad)
        EXPECT_FALSE(utl_IsPlainFileName(psz)) << psz;
    EXPECT_FALSE(utl_IsPlainFileName(NULL));
}

TEST(FileExists, FilesFoldersAndPatterns)
{
    std::string dir = kt::NewTempFolder("exists");
    ASSERT_TRUE(kt::MakeDirs(dir + "\\sub"));
    EXPECT_FALSE(utl_FileExists((dir + "\\*.*").c_str()));
    EXPECT_FALSE(utl_FileExists((dir + "\\sub").c_str()));
    EXPECT_TRUE(utl_FolderExists((dir + "\\sub").c_str()));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\one.txt", "1"));
    EXPECT_TRUE(utl_FileExists((dir + "\\*.*").c_str()));
    EXPECT_TRUE(utl_FileExists((dir + "\\one.txt").c_str()));
    EXPECT_FALSE(utl_FolderExists((dir + "\\one.txt").c_str()));
    EXPECT_FALSE(utl_FileExists((dir + "\\missing.txt").c_str()));
    EXPECT_FALSE(utl_FolderExists((dir + "\\missing").c_str()));
    EXPECT_FALSE(utl_FileExists(""));
    EXPECT_FALSE(utl_FileExists(NULL));
}

TEST(DeleteFolderTree, RemovesReadOnlyFilesDeepInTheTree)
{
    std::string dir = kt::NewTempFolder("tree");
    std::string root = dir + "\\root";
    ASSERT_TRUE(kt::WriteBytes(root + "\\a.txt", "a"));
    ASSERT_TRUE(kt::WriteBytes(root + "\\s1\\b.txt", "b"));
    ASSERT_TRUE(kt::WriteBytes(root + "\\s1\\s2\\ro.txt", "ro"));
    ASSERT_TRUE(kt::MakeDirs(root + "\\s1\\s3"));
    SetFileAttributesA((root + "\\s1\\s2\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(kt::WriteBytes(dir + "\\outside.txt", "keep"));

    EXPECT_TRUE(utl_DeleteFolderTree(root.c_str()));
    EXPECT_FALSE(kt::Exists(root));
    EXPECT_TRUE(kt::Exists(dir + "\\outside.txt"));
    // A folder that is not there counts as removed.
    EXPECT_TRUE(utl_DeleteFolderTree(root.c_str()));
}

TEST(DeleteFiles, PatternKeepsFoldersAndOtherFiles)
{
    std::string dir = kt::NewTempFolder("delfiles");
    ASSERT_TRUE(kt::WriteBytes(dir + "\\a.log", "a"));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\b.log", "b"));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\c.txt", "c"));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\sub.log\\inner.log", "i"));
    SetFileAttributesA((dir + "\\b.log").c_str(), FILE_ATTRIBUTE_READONLY);
    utl_DeleteFiles(dir.c_str(), "*.log");
    EXPECT_EQ((std::vector<std::string>{"c.txt", "sub.log"}), kt::ListFolder(dir));
    EXPECT_TRUE(kt::Exists(dir + "\\sub.log\\inner.log"));
    utl_DeleteFiles(dir.c_str(), "nothing*.zzz");
    EXPECT_EQ(2u, kt::ListFolder(dir).size());
}

TEST(DeleteSubfolders, KeepsTheFolderOwnFiles)
{
    std::string dir = kt::NewTempFolder("delsub");
    ASSERT_TRUE(kt::WriteBytes(dir + "\\keep.txt", "k"));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\s1\\x.txt", "x"));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\s2\\s3\\y.txt", "y"));
    utl_DeleteSubfolders(dir.c_str());
    EXPECT_EQ((std::vector<std::string>{"keep.txt"}), kt::ListFolder(dir));
}

TEST(RemoveFolder, FolderWithSubfolderStays)
{
    std::string dir = kt::NewTempFolder("rmfolder");
    std::string f = dir + "\\f";
    ASSERT_TRUE(kt::WriteBytes(f + "\\a.txt", "a"));
    ASSERT_TRUE(kt::MakeDirs(f + "\\sub"));
    utl_RemoveFolder(f.c_str());
    EXPECT_EQ((std::vector<std::string>{"sub"}), kt::ListFolder(f));
    std::string g = dir + "\\g";
    ASSERT_TRUE(kt::WriteBytes(g + "\\a.txt", "a"));
    utl_RemoveFolder(g.c_str());
    EXPECT_FALSE(kt::Exists(g));
}

// A tree holding hard links to files outside it (the kind a local user can
// make without any right on the target): the delete helpers remove the
// tree's own files and the links' names only, never the targets' bytes or
// attributes. A read-only hard link stays (clearing it would change the
// shared file), so the folder holding it stays too.
TEST(DeleteFolderTree, HardLinksLoseOnlyTheirNames)
{
    std::string strOut = kt::NewTempFolder("outside");
    std::string strTree = kt::NewTempFolder("tree");
    ASSERT_TRUE(kt::WriteBytes(strOut + "\\plain.txt", "outside plain"));
    ASSERT_TRUE(kt::WriteBytes(strOut + "\\ro.txt", "outside read-only"));
    ASSERT_TRUE(SetFileAttributesA((strOut + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(kt::MakeDirs(strTree + "\\a\\b"));
    ASSERT_TRUE(kt::WriteBytes(strTree + "\\a\\b\\own.txt", "own"));
    ASSERT_TRUE(SetFileAttributesA((strTree + "\\a\\b\\own.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateHardLinkA((strTree + "\\a\\b\\plain.lnk").c_str(), (strOut + "\\plain.txt").c_str(), NULL));
    ASSERT_TRUE(CreateHardLinkA((strTree + "\\a\\ro.lnk").c_str(), (strOut + "\\ro.txt").c_str(), NULL));

    EXPECT_EQ(0, utl_DeleteFolderTree(strTree.c_str()));
    EXPECT_FALSE(kt::Exists(strTree + "\\a\\b"));            // own files and the writable link's name
    EXPECT_TRUE(kt::Exists(strTree + "\\a\\ro.lnk"));
    EXPECT_EQ("outside plain", kt::ReadBytes(strOut + "\\plain.txt"));
    EXPECT_EQ("outside read-only", kt::ReadBytes(strOut + "\\ro.txt"));
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_READONLY, GetFileAttributesA((strOut + "\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ((DWORD)0, GetFileAttributesA((strOut + "\\plain.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
}

// Copies overwrite their target, a read-only one too, but never write into a
// file that has another name elsewhere; a missing source changes nothing.
TEST(CopyFileOver, ReplacesTheTargetNeverWhatItSharesDataWith)
{
    std::string strOut = kt::NewTempFolder("copyout");
    std::string strDir = kt::NewTempFolder("copy");
    std::string strSrc = strDir + "\\src.bin", strDst = strDir + "\\dst.bin";
    std::string strData(200000, 'd');
    ASSERT_TRUE(kt::WriteBytes(strSrc, strData));
    ASSERT_TRUE(kt::WriteBytes(strDst, std::string(300000, 'o')));
    ASSERT_TRUE(SetFileAttributesA(strDst.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(utl_CopyFileOver(strSrc.c_str(), strDst.c_str()));
    EXPECT_EQ(strData, kt::ReadBytes(strDst));

    ASSERT_TRUE(kt::WriteBytes(strOut + "\\other.txt", "outside"));
    ASSERT_TRUE(DeleteFileA(strDst.c_str()));
    ASSERT_TRUE(CreateHardLinkA(strDst.c_str(), (strOut + "\\other.txt").c_str(), NULL));
    EXPECT_TRUE(utl_CopyFileOver(strSrc.c_str(), strDst.c_str()));
    EXPECT_EQ(strData, kt::ReadBytes(strDst));
    EXPECT_EQ("outside", kt::ReadBytes(strOut + "\\other.txt"));

    EXPECT_FALSE(utl_CopyFileOver((strDir + "\\missing.bin").c_str(), strDst.c_str()));
    EXPECT_EQ(strData, kt::ReadBytes(strDst));
}

TEST(FolderChain, CreatesEveryMissingComponent)
{
    std::string dir = kt::NewTempFolder("chain");
    std::string strDeep = dir + "\\a\\b c\\d";
    DWORD dwErr = 5;
    EXPECT_TRUE(utl_CreateFolderChain(strDeep.c_str(), &dwErr));
    EXPECT_EQ(5u, dwErr);
    EXPECT_TRUE(kt::IsFolder(strDeep));
    EXPECT_TRUE(utl_CreateFolderChain(strDeep.c_str(), &dwErr));
    EXPECT_TRUE(utl_CreateFolderChain((dir + "\\e\\\\f\\").c_str(), &dwErr));
    EXPECT_TRUE(kt::IsFolder(dir + "\\e\\f"));
    // A file in the way stops the chain with the system's error number.
    ASSERT_TRUE(kt::WriteBytes(dir + "\\file", "f"));
    EXPECT_FALSE(utl_CreateFolderChain((dir + "\\file\\sub").c_str(), &dwErr));
    EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, dwErr);
    EXPECT_FALSE(kt::Exists(dir + "\\file\\sub"));
    dwErr = 0;
    EXPECT_FALSE(utl_CreateFolderChain("", &dwErr));
    EXPECT_NE(0u, dwErr);
    EXPECT_FALSE(utl_CreateFolderChain(std::string(300, 'a').c_str(), &dwErr));
}
