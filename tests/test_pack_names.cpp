// Record names from the payload and the files they become: only bare file
// names inside the destination folder are written, anything else is refused
// with 165 before it is created; existing files are replaced, not patched.
#include <gtest/gtest.h>
#include "log.h"
#include "pack.h"
#include "pack_bytes.h"
#include "pack_log_test.h"
#include "testutil.h"
#include <algorithm>
#include <set>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

const DWORD kUntouched = 12345;

// Every path below a folder, recursively, folders marked with a trailing '\'.
void Walk(const std::string& strRoot, const std::string& strRel, std::set<std::string>& paths)
{
    for (const std::string& name : kt::ListFolder(strRoot + strRel)) {
        std::string strPath = strRel + "\\" + name;
        if (kt::IsFolder(strRoot + strPath)) {
            paths.insert(strPath + "\\");
            Walk(strRoot, strPath, paths);
        } else {
            paths.insert(strPath);
        }
    }
}

std::set<std::string> Tree(const std::string& strRoot)
{
    std::set<std::string> paths;
    Walk(strRoot, "", paths);
    return paths;
}

std::set<std::string> TopLevel(const std::string& strFolder)
{
    std::vector<std::string> names = kt::ListFolder(strFolder);
    return std::set<std::string>(names.begin(), names.end());
}

// How the refusal line shows a name: control bytes as \xNN.
std::string Shown(const std::string& strName)
{
    std::string out;
    for (unsigned char c : strName) {
        if (c < 0x20 || c == 0x7F) {
            char sz[8];
            snprintf(sz, sizeof(sz), "\\x%02X", c);
            out += sz;
        } else {
            out += (char)c;
        }
    }
    return out;
}

} // namespace

using PackNames = PackLogTest;
using PackOutputFiles = PackLogTest;

// ---------------------------------------------------------------------------
// Hostile names

TEST_F(PackNames, NamesThatAreNoPlainFileNameAreRefused165AndNothingIsCreated)
{
    const std::string apszHostile[] = {
        "..\\..\\x.dll",            // climbs out of the destination
        "..\\..\\..\\..\\..\\..\\x.dll", // up to the root of the drive
        "..", ".",
        "C:\\x",                    // absolute
        "C:x",                      // relative to the drive's current folder
        "\\x.dll",                  // rooted
        "\\\\server\\share\\x",     // UNC
        "\\\\.\\C:\\x",             // device path
        "sub\\x", "a/b", "../x", "/x",
        "name:stream", "x::$DATA",  // alternate data streams
        "",                         // empty
        "CON", "nul.txt", "COM1", "LPT1.log", "AUX", "CONIN$", "prn.",
        "CON" + std::string(13, ' ') + ".txt", // spaces before the extension are dropped
        "conout$" + std::string(9, ' ') + ".log",
        "COM\xB9", "lpt\xB2.txt", "Com\xB3.log", // superscript digits count as digits
        "a*", "?", "a>b", "a|b", "a\"b",
        "trail.", "trail ",         // Windows would drop the dot or space
        "x\r\nfake line",           // control characters
        std::string("a\0b.txt", 7), // a zero byte hides the rest
        std::string("^Kavla_end^\0", 12),
    };
    std::string strRoot = kt::NewTempFolder("hostile");
    // Whatever the logger makes, it makes before the snapshots.
    utl_Log("UtlFile", "start", 0);
    std::set<std::string> driveBefore = TopLevel("C:");
    std::set<std::string> windowsBefore = TopLevel("C:\\windows");
    int nCase = 0;
    for (const std::string& strName : apszHostile) {
        std::string strDir = strRoot + "\\" + std::to_string(++nCase);
        std::string strOut = strDir + "\\a\\b\\out";
        ASSERT_TRUE(kt::MakeDirs(strOut));
        ASSERT_TRUE(kt::WriteBytes(strDir + "\\host.bin", kp::Header() + kp::Record("good.txt", "good")
                                                             + kp::Record(strName, "EVIL")
                                                             + kp::Record("after.txt", "after")));
        std::set<std::string> before = Tree(strRoot);

        DWORD dwErr = kUntouched;
        EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "host.bin", strOut.c_str(), &dwErr, 0)) << Shown(strName);
        EXPECT_EQ(165u, dwErr) << Shown(strName);

        // Exactly one new file: the record before the hostile one.
        std::set<std::string> after = Tree(strRoot);
        std::set<std::string> expected = before;
        expected.insert("\\" + std::to_string(nCase) + "\\a\\b\\out\\good.txt");
        EXPECT_EQ(expected, after) << Shown(strName);
        EXPECT_EQ("good", kt::ReadBytes(strOut + "\\good.txt"));

        std::vector<std::string> log = FileLog();
        EXPECT_TRUE(kt::HasLine(log, "utl_FileUnpack: refused record name that is not a plain file name: "
                                         + Shown(strName)))
            << Shown(strName);
        // The refusal comes before any output path is formed from the name.
        EXPECT_FALSE(kt::HasLine(log, "utl_FileUnpack: szDstAbsFile = " + strOut + "\\" + strName))
            << Shown(strName);
    }
    EXPECT_EQ((size_t)nCase, kt::CountLine(FileLog(), "utl_FileUnpack:Err: 165."));
    EXPECT_EQ(driveBefore, TopLevel("C:"));
    EXPECT_EQ(windowsBefore, TopLevel("C:\\windows"));
    EXPECT_FALSE(kt::Exists("C:\\x.dll"));
    EXPECT_FALSE(kt::Exists("C:\\x"));
}

TEST_F(PackNames, PlainNamesKeepWorking)
{
    const std::string apszPlain[] = {
        "a.txt", "Qt.7z", "KavlaComponent.exe", "name with space.txt", "..a", "a..b", "COM10",
        "CONFIG.SYS", "^kavla_end^", "\xc4\xe3\xba\xc3.txt", std::string(64, 'L'),
        "CON" + std::string(13, ' ') + "x.txt", "COM\xB4.txt", "LPT\xB9\xB9",   // a base that is no device
    };
    std::string strDir = kt::NewTempFolder("plain");
    std::string strOut = strDir + "\\out";
    ASSERT_TRUE(kt::MakeDirs(strOut));
    std::string strHost = kp::Header();
    std::vector<std::string> expected;
    int n = 0;
    for (const std::string& strName : apszPlain) {
        strHost += kp::Record(strName, "content " + std::to_string(++n));
        expected.push_back(strName);
    }
    strHost += kp::EndMarker();
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\host.bin", strHost));
    DWORD dwErr = kUntouched;
    EXPECT_EQ(1, utl_FileUnpack(strDir.c_str(), "host.bin", strOut.c_str(), &dwErr, 0));
    EXPECT_EQ(kUntouched, dwErr);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, kt::ListFolder(strOut));
    n = 0;
    for (const std::string& strName : apszPlain)
        EXPECT_EQ("content " + std::to_string(++n), kt::ReadBytes(strOut + "\\" + strName)) << strName;
}

// ---------------------------------------------------------------------------
// Existing output files

TEST_F(PackOutputFiles, ExistingLongerFilesAreTruncated)
{
    std::string strDir = kt::NewTempFolder("trunc");
    std::string strOut = strDir + "\\out";
    ASSERT_TRUE(kt::WriteBytes(strOut + "\\a.txt", std::string(10000, 'O')));
    ASSERT_TRUE(kt::WriteBytes(strOut + "\\empty.txt", "old tail"));
    ASSERT_TRUE(kt::WriteBytes(strOut + "\\hidden.txt", std::string(5000, 'H')));
    ASSERT_TRUE(SetFileAttributesA((strOut + "\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    std::string strBig = kp::Pattern(4096 + 10, 1);
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\host.bin", kp::Header() + kp::Record("a.txt", "new")
                                                         + kp::Record("empty.txt", "")
                                                         + kp::Record("hidden.txt", strBig)));
    DWORD dwErr = kUntouched;
    EXPECT_EQ(1, utl_FileUnpack(strDir.c_str(), "host.bin", strOut.c_str(), &dwErr, 0));
    bool bOk = false;
    EXPECT_EQ("new", kt::ReadBytes(strOut + "\\a.txt", &bOk));
    EXPECT_TRUE(bOk);
    EXPECT_EQ("", kt::ReadBytes(strOut + "\\empty.txt", &bOk));
    EXPECT_TRUE(bOk);
    // A hidden file is replaced too (CREATE_ALWAYS would refuse it).
    EXPECT_EQ(strBig, kt::ReadBytes(strOut + "\\hidden.txt"));
}

TEST_F(PackOutputFiles, SecondUnpackOverTheFirstGivesTheSameFiles)
{
    std::string strDir = kt::NewTempFolder("twice");
    std::string strOut = strDir + "\\out";
    ASSERT_TRUE(kt::MakeDirs(strOut));
    std::string strLong = kp::Pattern(9000, 2), strShort = kp::Pattern(100, 4);
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\long.bin", kp::Header() + kp::Record("f.bin", strLong)));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\short.bin", kp::Header() + kp::Record("f.bin", strShort)));
    DWORD dwErr = kUntouched;
    ASSERT_EQ(1, utl_FileUnpack(strDir.c_str(), "long.bin", strOut.c_str(), &dwErr, 0));
    ASSERT_EQ(1, utl_FileUnpack(strDir.c_str(), "short.bin", strOut.c_str(), &dwErr, 0));
    EXPECT_EQ(strShort, kt::ReadBytes(strOut + "\\f.bin"));
}
