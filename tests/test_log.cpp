// Setup log: file names, line formats, the weekly ring and concurrent writers,
// on the real C:\KavlaLog of the test's prefix.
#include <gtest/gtest.h>
#include "log.h"
#include "testutil.h"
#include <regex>

namespace {

const std::string kLogDir = "C:\\KavlaLog";

std::string Weekday(int nOffset = 0)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    char sz[8];
    snprintf(sz, sizeof(sz), "%02u", (unsigned)((st.wDayOfWeek + nOffset) % 7));
    return sz;
}

} // namespace

TEST(SetupLog, FileNameAndLineFormat)
{
    SetupLog("hello log");
    std::string text = kt::SetupLogText();
    // [YYYY-MM-DD hh:mm:ss] [tid] message CRLF, thread id in lower-case hex.
    char szTid[32];
    snprintf(szTid, sizeof(szTid), "%lx", (unsigned long)GetCurrentThreadId());
    std::regex re("^\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\] \\[" + std::string(szTid) +
                  "\\] hello log\\r\\n$");
    EXPECT_TRUE(std::regex_match(text, re)) << text;
    // The date part ends in the day of the week, not the hour.
    EXPECT_EQ(Weekday(), kt::TodayStamp().substr(8));
    EXPECT_TRUE(kt::Exists(kLogDir + "\\setup" + kt::TodayStamp() + ".log"));
}

TEST(SetupLog, LinesInCallOrderAndEmptyMessage)
{
    SetupLog("first");
    SetupLog("");
    SetupLog("third\r\nwith a break");
    std::vector<std::string> lines = kt::LogMessages(kt::SetupLogText());
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("first", lines[0]);
    EXPECT_EQ("", lines[1]);
    EXPECT_EQ("third", lines[2]);
    EXPECT_EQ("with a break", lines[3]);
    SetupLog(NULL);
    EXPECT_EQ(5u, kt::LogMessages(kt::SetupLogText()).size());
}

TEST(UtlLog, ModuleFilesAndDetailSwitch)
{
    utl_Log("UtlFile", "module line", 0);
    utl_Log("UtlFile", "detail line", 1);
    std::string text = kt::UtlLogText("UtlFile");
    char szTid[32];
    snprintf(szTid, sizeof(szTid), "%lx", (unsigned long)GetCurrentThreadId());
    std::regex re("^\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\] \\[0x" + std::string(szTid) +
                  "\\] module line\\r\\n$");
    EXPECT_TRUE(std::regex_match(text, re)) << text;
    // With the switch on, a detail line carries its marker.
    g_nLogDetail = 1;
    utl_Log("UtlFile", "detail now", 1);
    g_nLogDetail = 0;
    EXPECT_NE(std::string::npos, kt::UtlLogText("UtlFile").find("] [DTL] [0x"));
    EXPECT_TRUE(kt::Exists(kLogDir + "\\stp_UtlFile" + kt::TodayStamp() + ".log"));
    EXPECT_FALSE(kt::Exists(kLogDir + "\\setup" + kt::TodayStamp() + ".log"));
}

TEST(SimpleLog, FixedFolderAndPlainName)
{
    utl_SimpleLog("IsCurUserAdmin", "simple");
    std::string text = kt::ReadBytes(kLogDir + "\\IsCurUserAdmin" + kt::TodayStamp() + ".log");
    std::regex re("^\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\] \\[[0-9a-f]+\\] simple\\r\\n$");
    EXPECT_TRUE(std::regex_match(text, re)) << text;
}

TEST(LogRing, FirstLineOfTheDayDeletesOnlyThatWeekdaysOldFiles)
{
    ASSERT_TRUE(kt::MakeDirs(kLogDir));
    std::string w = Weekday(), other = Weekday(3);
    const std::vector<std::string> goes = {"setup20200101" + w + ".log", "setup20261118" + w + ".log"};
    const std::vector<std::string> stays = {"setup20200101" + other + ".log",
                                            "stp_UtlFile20200101" + w + ".log",
                                            "IsCurUserAdmin20200101" + w + ".log", "notes" + w + ".txt"};
    for (const std::string& n : goes)
        ASSERT_TRUE(kt::WriteBytes(kLogDir + "\\" + n, "old"));
    for (const std::string& n : stays)
        ASSERT_TRUE(kt::WriteBytes(kLogDir + "\\" + n, "old"));
    // A read-only old file goes too.
    SetFileAttributesA((kLogDir + "\\" + goes[0]).c_str(), FILE_ATTRIBUTE_READONLY);

    SetupLog("new day");
    for (const std::string& n : goes)
        EXPECT_FALSE(kt::Exists(kLogDir + "\\" + n)) << n;
    for (const std::string& n : stays)
        EXPECT_TRUE(kt::Exists(kLogDir + "\\" + n)) << n;

    // Later lines of the same day delete nothing more.
    ASSERT_TRUE(kt::WriteBytes(kLogDir + "\\" + goes[1], "again"));
    SetupLog("second line");
    EXPECT_TRUE(kt::Exists(kLogDir + "\\" + goes[1]));

    // The module writer's ring is its own.
    utl_Log("UtlFile", "module", 0);
    EXPECT_FALSE(kt::Exists(kLogDir + "\\stp_UtlFile20200101" + w + ".log"));
    EXPECT_TRUE(kt::Exists(kLogDir + "\\IsCurUserAdmin20200101" + w + ".log"));
}

TEST(LogFailures, AnUnwritableLogNeverFailsTheCaller)
{
    // A folder where the log file should be: the line is dropped silently.
    ASSERT_TRUE(kt::MakeDirs(kLogDir + "\\setup" + kt::TodayStamp() + ".log"));
    EXPECT_EQ(0, SetupLog("dropped"));
    // A file where the log folder should be.
    kt::RemoveTree(kLogDir);
    ASSERT_TRUE(kt::WriteBytes(kLogDir, "not a folder"));
    EXPECT_EQ(0, utl_Log("UtlFile", "dropped", 0));
    EXPECT_EQ(0, utl_SimpleLog("x", "dropped"));
}

TEST(LogConcurrency, TwoProcessesLoseNoLine)
{
    KT_SKIP_IF_EMULATED();
    const int kLines = 400;
    std::string exe = kt::TestBinPath("log_writer.exe");
    for (const char* kind : {"setup", "utl"}) {
        kt::Proc a = kt::Start(exe + " " + kind + " " + std::to_string(kLines) + " A");
        kt::Proc b = kt::Start(exe + " " + kind + " " + std::to_string(kLines) + " B");
        ASSERT_EQ(0, kt::Wait(a, 120000));
        ASSERT_EQ(0, kt::Wait(b, 120000));
        std::string text = std::string(kind) == "setup" ? kt::SetupLogText() : kt::UtlLogText("conc");
        std::vector<std::string> lines = kt::LogMessages(text);
        ASSERT_EQ((size_t)(2 * kLines), lines.size()) << kind;
        // Every line whole, and each writer's lines in its own order.
        int nNextA = 0, nNextB = 0;
        for (const std::string& line : lines) {
            if (line == "A line " + std::to_string(nNextA))
                ++nNextA;
            else if (line == "B line " + std::to_string(nNextB))
                ++nNextB;
            else
                ADD_FAILURE() << kind << ": unexpected line " << line;
        }
        EXPECT_EQ(kLines, nNextA);
        EXPECT_EQ(kLines, nNextB);
    }
}

// Today's setup log planted as a hard link to a file elsewhere: the line
// goes to a new file of the log's own, and the other file keeps its bytes.
// A read-only hard link cannot be replaced safely: its line is dropped.
TEST(LogLinks, HardLinkedLogFileIsReplacedNotWritten)
{
    std::string strOut = kt::NewTempFolder("outside");
    std::string strLog = kLogDir + "\\setup" + kt::TodayStamp() + ".log";
    ASSERT_TRUE(kt::MakeDirs(kLogDir));
    ASSERT_TRUE(kt::WriteBytes(strOut + "\\victim.txt", "victim bytes"));
    ASSERT_TRUE(CreateHardLinkA(strLog.c_str(), (strOut + "\\victim.txt").c_str(), NULL));
    SetupLog("after the link");
    EXPECT_EQ("victim bytes", kt::ReadBytes(strOut + "\\victim.txt"));
    EXPECT_TRUE(kt::HasLine(kt::LogMessages(kt::SetupLogText()), "after the link"));

    std::string strModLog = kLogDir + "\\stp_Links" + kt::TodayStamp() + ".log";
    ASSERT_TRUE(kt::WriteBytes(strOut + "\\ro.txt", "read-only bytes"));
    ASSERT_TRUE(SetFileAttributesA((strOut + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateHardLinkA(strModLog.c_str(), (strOut + "\\ro.txt").c_str(), NULL));
    utl_Log("Links", "dropped", 0);
    EXPECT_EQ("read-only bytes", kt::ReadBytes(strOut + "\\ro.txt"));
}
