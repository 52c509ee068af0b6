// The install driver's path and name rules, in the test process itself.
#include <gtest/gtest.h>
#include "driver.h"
#include "payload.h"
#include "file.h"
#include <string>

TEST(MsiCopyPath, ProgramFolderJoinedWithTheMsiName)
{
    struct Case {
        const char* pszModule;
        const char* pszExpected;  // nullptr: refused
    };
    const Case aCases[] = {
        // The usual name: the same place the old rule (path minus "Setup.exe") gave.
        {"C:\\Users\\Public\\Downloads\\Setup.exe", "C:\\Users\\Public\\Downloads\\KavlaSetup.msi"},
        // A second download and a renamed file stay in the program's folder.
        {"C:\\Users\\Public\\Downloads\\Setup (1).exe", "C:\\Users\\Public\\Downloads\\KavlaSetup.msi"},
        {"C:\\dl\\KavlaClient_5.2_setup.exe", "C:\\dl\\KavlaSetup.msi"},
        {"C:\\dl\\s.exe", "C:\\dl\\KavlaSetup.msi"},
        {"C:\\Setup.exe", "C:\\KavlaSetup.msi"},
        {"\\\\server\\share\\Setup.exe", "\\\\server\\share\\KavlaSetup.msi"},
        // Only the last backslash separates: the folder keeps its own dots and spaces.
        {"C:\\a.b\\c d\\Setup.exe", "C:\\a.b\\c d\\KavlaSetup.msi"},
        // No folder at all: there is no "beside the program".
        {"Setup.exe", nullptr},
        {"", nullptr},
    };
    for (const Case& c : aCases) {
        char sz[UTL_MAX_PATH] = "unchanged";
        int bOk = MsiCopyPath(c.pszModule, sz, sizeof(sz));
        if (c.pszExpected) {
            EXPECT_EQ(1, bOk) << c.pszModule;
            EXPECT_STREQ(c.pszExpected, sz) << c.pszModule;
        } else {
            EXPECT_EQ(0, bOk) << c.pszModule;
            EXPECT_STREQ("", sz) << c.pszModule;
        }
    }
    char sz[UTL_MAX_PATH] = "unchanged";
    EXPECT_EQ(0, MsiCopyPath(nullptr, sz, sizeof(sz)));
    EXPECT_STREQ("", sz);
}

TEST(MsiCopyPath, FailsRatherThanCuts)
{
    // Folder of 244 characters + "\KavlaSetup.msi" (15) = 259: fits; one more does not.
    std::string strFolder = "C:\\" + std::string(241, 'f');
    char sz[UTL_MAX_PATH];
    ASSERT_EQ(1, MsiCopyPath((strFolder + "\\Setup.exe").c_str(), sz, sizeof(sz)));
    EXPECT_EQ(strFolder + "\\KavlaSetup.msi", sz);
    EXPECT_EQ(0, MsiCopyPath((strFolder + "g\\Setup.exe").c_str(), sz, sizeof(sz)));
    EXPECT_STREQ("", sz);
    // A buffer too small for the result is refused, not filled with a cut path.
    char szSmall[20];
    EXPECT_EQ(0, MsiCopyPath("C:\\dl\\Setup.exe", szSmall, sizeof(szSmall)));
    EXPECT_STREQ("", szSmall);
    EXPECT_EQ(0, MsiCopyPath("C:\\dl\\Setup.exe", szSmall, 0));
}

TEST(SevenZipCmd, ExactCommandLine)
{
    std::string strCmd = "unchanged";
    ASSERT_EQ(1, DrvSevenZipCmd("C:\\tmp\\KavlaSetup0", "C:\\tmp\\KavlaSetup0\\Qt.7z", strCmd));
    // The program path is not quoted; the archive and the output folder are.
    EXPECT_EQ("C:\\tmp\\KavlaSetup0\\7za.exe x \"C:\\tmp\\KavlaSetup0\\Qt.7z\" -o\"C:\\tmp\\KavlaSetup0\" -y",
              strCmd);
    ASSERT_EQ(1, DrvSevenZipCmd("D:\\tmp\\KavlaSetup0", "D:\\tmp\\KavlaSetup0\\WebCmdCustomCfg.7z", strCmd));
    EXPECT_EQ("D:\\tmp\\KavlaSetup0\\7za.exe x \"D:\\tmp\\KavlaSetup0\\WebCmdCustomCfg.7z\" -o\"D:\\tmp\\KavlaSetup0\" -y",
              strCmd);
    // A work folder too long for the program path gives no command at all.
    EXPECT_EQ(0, DrvSevenZipCmd(std::string(255, 'w').c_str(), "x.7z", strCmd));
    EXPECT_EQ("", strCmd);
    EXPECT_EQ(0, DrvSevenZipCmd("C:\\w", nullptr, strCmd));
}

TEST(ProfileName, SplitAtTheFirstDashIntoPlainNames)
{
    struct Case {
        const char* pszName;
        const char* pszPrefix;  // nullptr: skipped
        const char* pszRest;
    };
    const Case aCases[] = {
        {"office-cfg.xml", "office", "cfg.xml"},
        {"branch-cfg.xml", "branch", "cfg.xml"},
        {"branch-a-cfg.xml", "branch", "a-cfg.xml"},
        {"a b-cfg.xml.bak", "a b", "cfg.xml.bak"},
        {"x-mycfg.xml", "x", "mycfg.xml"},
        // No '-': nothing to split off, the file is skipped.
        {"cfg.xml", nullptr, nullptr},
        {"plaincfg.xml", nullptr, nullptr},
        // An empty half, a climbing or a device prefix is no folder under data.
        {"-cfg.xml", nullptr, nullptr},
        {"cfg.xml-", nullptr, nullptr},
        {"..-cfg.xml", nullptr, nullptr},
        {".-cfg.xml", nullptr, nullptr},
        {"con-cfg.xml", nullptr, nullptr},
        {"NUL-cfg.xml", nullptr, nullptr},
        {"com1-cfg.xml", nullptr, nullptr},
        {"trail.-cfg.xml", nullptr, nullptr},
        {"office-cfg.xml.", nullptr, nullptr},
    };
    for (const Case& c : aCases) {
        char szPrefix[UTL_MAX_PATH] = "unchanged", szRest[UTL_MAX_PATH] = "unchanged";
        int bOk = DrvSplitProfileName(c.pszName, szPrefix, szRest, UTL_MAX_PATH);
        if (c.pszPrefix) {
            EXPECT_EQ(1, bOk) << c.pszName;
            EXPECT_STREQ(c.pszPrefix, szPrefix) << c.pszName;
            EXPECT_STREQ(c.pszRest, szRest) << c.pszName;
        } else {
            EXPECT_EQ(0, bOk) << c.pszName;
            EXPECT_STREQ("", szPrefix) << c.pszName;
            EXPECT_STREQ("", szRest) << c.pszName;
        }
    }
    // Halves that do not fit the buffers are refused, not cut.
    char szPrefix[4], szRest[4];
    EXPECT_EQ(0, DrvSplitProfileName("office-cfg.xml", szPrefix, szRest, sizeof(szPrefix)));
    EXPECT_EQ(1, DrvSplitProfileName("ab-cfg", szPrefix, szRest, sizeof(szPrefix)));
    EXPECT_EQ(0, DrvSplitProfileName(nullptr, szPrefix, szRest, sizeof(szPrefix)));
}

TEST(InstanceEvent, ClosedOnceAndForgotten)
{
    g_hInstanceEvent = CreateEventA(NULL, FALSE, FALSE, "evnt_Kavla_stpDamon");
    ASSERT_NE(nullptr, g_hInstanceEvent);
    CloseInstanceEvent();
    EXPECT_EQ(nullptr, g_hInstanceEvent);
    // Closed: the name is free again.
    HANDLE h = CreateEventA(NULL, FALSE, FALSE, "evnt_Kavla_stpDamon");
    EXPECT_NE(ERROR_ALREADY_EXISTS, GetLastError());
    CloseHandle(h);
    CloseInstanceEvent();  // a second close is harmless
    EXPECT_EQ(nullptr, g_hInstanceEvent);
}
