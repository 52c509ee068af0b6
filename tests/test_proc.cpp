// Process utilities against real processes started in the test's prefix.
#include <gtest/gtest.h>
#include "proc.h"
#include "testutil.h"

namespace {

// A copy of the sleeper under another name, started and left running.
kt::Proc StartNamed(const std::string& strName)
{
    std::string dir = kt::NewTempFolder("proc");
    std::string exe = dir + "\\" + strName;
    EXPECT_TRUE(CopyFileA(kt::TestBinPath("sleeper.exe").c_str(), exe.c_str(), FALSE));
    kt::Proc p = kt::Start("\"" + exe + "\" 60000");
    EXPECT_NE(nullptr, p.hProcess);
    Sleep(300);
    return p;
}

} // namespace

TEST(ChkProcExist, FindsARunningProgramWhateverTheLetterCase)
{
    KT_SKIP_IF_EMULATED();
    EXPECT_EQ(PROC_NOT_RUNNING, chkProcExist("waitSetup", "KavlaSetup.exe"));
    kt::Proc p = StartNamed("KavlaSetup.exe");
    EXPECT_EQ(PROC_RUNNING, chkProcExist("waitSetup", "KavlaSetup.exe"));
    EXPECT_EQ(PROC_RUNNING, chkProcExist("waitSetup", "KAVLASETUP.EXE"));
    EXPECT_EQ(PROC_RUNNING, chkProcExist("waitSetup", "kavlasetup.exe"));
    EXPECT_EQ(PROC_NOT_RUNNING, chkProcExist("waitSetup", "KavlaSetup"));
    EXPECT_EQ(PROC_NOT_RUNNING, chkProcExist("waitSetup", "KavlaSetup.exe2"));
    kt::Kill(p);
    Sleep(300);
    EXPECT_EQ(PROC_NOT_RUNNING, chkProcExist("waitSetup", "KavlaSetup.exe"));
    // Its own name is always in the list; an empty name never matches.
    EXPECT_EQ(PROC_RUNNING, chkProcExist("waitSetup", "test_proc.exe"));
    EXPECT_EQ(PROC_NOT_RUNNING, chkProcExist("waitSetup", ""));
}

TEST(GetCmd, CapturesWhatTheCommandPrints)
{
    KT_SKIP_IF_EMULATED();
    std::string out = "unchanged";
    ASSERT_EQ(1, GetCmd(("\"" + kt::TestBinPath("printer.exe") + "\" text \"Everything is Ok\"").c_str(),
                        out, "Setup"));
    EXPECT_EQ("Everything is Ok", out);
    // Standard error goes to the same pipe.
    ASSERT_EQ(1, GetCmd(("\"" + kt::TestBinPath("printer.exe") + "\" stderr oops").c_str(), out, "Setup"));
    EXPECT_EQ("oops", out);
}

TEST(GetCmd, NoOutputLeavesTheTextUnchanged)
{
    KT_SKIP_IF_EMULATED();
    std::string out = "before";
    ASSERT_EQ(1, GetCmd(("\"" + kt::TestBinPath("printer.exe") + "\" nothing").c_str(), out, "Setup"));
    EXPECT_EQ("before", out);
}

TEST(GetCmd, KeepsTextBeforeAZeroByte)
{
    KT_SKIP_IF_EMULATED();
    std::string out;
    ASSERT_EQ(1, GetCmd(("\"" + kt::TestBinPath("printer.exe") + "\" zero").c_str(), out, "Setup"));
    EXPECT_EQ("abc", out);
}

TEST(GetCmd, ReadsOutputLongerThanOneBuffer)
{
    KT_SKIP_IF_EMULATED();
    std::string out;
    ASSERT_EQ(1, GetCmd(("\"" + kt::TestBinPath("printer.exe") + "\" big 100000").c_str(), out, "Setup"));
    ASSERT_EQ(100003u, out.size());
    EXPECT_EQ(std::string(100000, 'x') + "END", out);
}

TEST(GetCmd, MissingProgramFailsAndLogsUnderTheCallersModule)
{
    std::string out = "kept";
    EXPECT_EQ(0, GetCmd("C:\\nowhere\\missing.exe x", out, "Setup"));
    EXPECT_EQ("kept", out);
    std::vector<std::string> lines = kt::LogMessages(kt::UtlLogText("Setup"));
    ASSERT_EQ(1u, lines.size());
    // ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND, depending on the system.
    EXPECT_TRUE(lines[0] == "GetCmd: Create CMD Process Failed with ErrCode:2"
                || lines[0] == "GetCmd: Create CMD Process Failed with ErrCode:3")
        << lines[0];
}
