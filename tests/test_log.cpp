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

// Three processes append 3000 lines each to one file, all at once: every
// line arrives whole, none is lost or written over, and each writer's lines
// keep their order.
TEST(LogConcurrency, ThreeProcessesLoseNoLine)
{
    KT_SKIP_IF_EMULATED();
    const int kLines = 3000;
    const char* const kTags[] = {"A", "B", "C"};
    std::string exe = kt::TestBinPath("log_writer.exe");
    for (const char* kind : {"setup", "utl"}) {
        const std::string strGate = std::string("kt_log_gate_") + kind;
        HANDLE hReady = CreateSemaphoreA(NULL, 0, 3, (strGate + ".ready").c_str());
        HANDLE hGo = CreateEventA(NULL, TRUE, FALSE, (strGate + ".go").c_str());
        ASSERT_TRUE(hReady && hGo);
        std::vector<kt::Proc> procs;
        for (const char* tag : kTags)
            procs.push_back(kt::Start(exe + " " + kind + " " + std::to_string(kLines) + " " + tag + " " + strGate));
        for (size_t i = 0; i < procs.size(); ++i)
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hReady, 120000)) << kind;
        SetEvent(hGo);
        for (kt::Proc& proc : procs)
            ASSERT_EQ(0, kt::Wait(proc, 300000)) << kind;
        CloseHandle(hReady);
        CloseHandle(hGo);

        const bool bUtl = std::string(kind) == "utl";
        std::string text = bUtl ? kt::UtlLogText("conc") : kt::SetupLogText();
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ("\r\n", text.substr(text.size() - 2)) << kind << ": the last line is cut";
        const std::regex re(std::string("^\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\] \\[") + (bUtl ? "0x" : "")
                            + "[0-9a-f]+\\] ([ABC]) line (\\d+)$");
        // A line written over by another shows as a broken line, or as a gap
        // in its writer's numbers.
        int anNext[3] = {0, 0, 0}, anSeen[3] = {0, 0, 0}, nBroken = 0, nGaps = 0;
        for (size_t nPos = 0; nPos < text.size();) {
            size_t nEnd = text.find("\r\n", nPos);
            if (nEnd == std::string::npos)
                nEnd = text.size();
            std::string line = text.substr(nPos, nEnd - nPos);
            nPos = nEnd + 2;
            std::smatch m;
            if (!std::regex_match(line, m, re)) {
                if (++nBroken <= 5)
                    ADD_FAILURE() << kind << ": broken line " << line;
                continue;
            }
            const int iWriter = m[1].str()[0] - 'A', nLine = std::stoi(m[2].str());
            if (nLine != anNext[iWriter] && ++nGaps <= 5)
                ADD_FAILURE() << kind << ": " << kTags[iWriter] << " line " << anNext[iWriter] << " expected, got " << line;
            anNext[iWriter] = nLine + 1;
            ++anSeen[iWriter];
        }
        EXPECT_EQ(0, nBroken) << kind;
        EXPECT_EQ(0, nGaps) << kind;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(kLines, anSeen[i]) << kind << ": lines of writer " << kTags[i];
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
