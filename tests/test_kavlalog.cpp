// kavlalog, the helpdesk's log tool, run as a process on the log folders that
// whole-program runs of Setup.exe wrote in the test's prefix, and on a folder
// of damaged and foreign files; its meaning table against the program's numbers.
#include <gtest/gtest.h>
#include "dialog_runs.h"
#include "driver.h"
#include "driver_runs.h"
#include "kavlalog.h"
#include "testutil.h"
#include "vrf_fixture.h"
#include <map>
#include <string>
#include <vector>

namespace {

const DWORD RUN_TIMEOUT_MS = 180000;
const std::string kLogs = "C:\\KavlaLog";

int Tool(const std::string& strArgs, std::string& strOut)
{
    return vt::RunCapture("\"" + kt::DistPath("kavlalog.exe") + "\" " + strArgs, strOut);
}

bool Contains(const std::string& strText, const std::string& strPart)
{
    return strText.find(strPart) != std::string::npos;
}

size_t Count(const std::string& strText, const std::string& strPart)
{
    size_t n = 0;
    for (size_t nPos = strText.find(strPart); nPos != std::string::npos; nPos = strText.find(strPart, nPos + 1))
        ++n;
    return n;
}

// The output's lines that start with strPrefix.
std::vector<std::string> LinesStarting(const std::string& strText, const std::string& strPrefix)
{
    std::vector<std::string> lines;
    size_t nPos = 0;
    while (nPos < strText.size()) {
        size_t nEnd = strText.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        std::string strLine = strText.substr(nPos, nEnd - nPos);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        if (strLine.compare(0, strPrefix.size(), strPrefix) == 0)
            lines.push_back(strLine);
        nPos = nEnd + 1;
    }
    return lines;
}

// Whether a timeline line of the file stem holds the message: "[stamp] "
// then the stem, padded, then the line's thread id and message.
bool HasEntry(const std::string& strText, const std::string& strStem, const std::string& strThread,
              const std::string& strMsg)
{
    for (const std::string& strLine : LinesStarting(strText, "[")) {
        if (strLine.size() <= 22 + strStem.size())
            continue;
        size_t nThread = strLine.find(strThread, 22 + strStem.size());
        if (strLine.compare(22, strStem.size() + 1, strStem + " ") == 0 && nThread != std::string::npos
            && strLine.find_first_not_of(' ', 22 + strStem.size()) == nThread
            && strLine.find("] " + strMsg, nThread) != std::string::npos)
            return true;
    }
    return false;
}

// Builds Setup.exe with the payload and runs it from the downloads folder.
int RunSetup(const kt::Payload& payload, const std::string& strTag)
{
    return kt::BuildAndRunSetup(payload, strTag, true);
}

// Every file of the folder with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& strFolder)
{
    std::map<std::string, std::string> files;
    for (const std::string& strName : kt::ListFolder(strFolder))
        files[strName] = kt::ReadBytes(strFolder + "\\" + strName);
    return files;
}

class KavlaLog : public ::testing::Test {
protected:
    void SetUp() override { kt::StartWholeRun(300, 600); }
};

} // namespace

TEST_F(KavlaLog, FailedAndInstalledRunsOfOneDay)
{
    KT_SKIP_IF_EMULATED();
    kt::Payload noPym("nopym");
    noPym.AddStandard();
    noPym.Remove("pymApxSvr.exe");
    ASSERT_EQ(0, RunSetup(noPym, "nopym_out"));

    // While a writer holds the setup log open (shared as the writers share
    // it, with the right to delete), the tool still reads it.
    std::string strSetupLog = kLogs + "\\setup" + kt::TodayStamp() + ".log";
    HANDLE hHeld = CreateFileA(strSetupLog.c_str(), GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
    std::map<std::string, std::string> before = Snapshot(kLogs);
    std::string strOut;
    int nExit = Tool("", strOut);
    CloseHandle(hHeld);
    EXPECT_EQ(1, nExit) << strOut;
    EXPECT_EQ(std::vector<std::string>({"Verdict: install failed with Err 355."}),
              LinesStarting(strOut, "Verdict:")) << strOut;
    EXPECT_TRUE(Contains(strOut, "  Meaning: pymApxSvr.exe is missing from the work folder")) << strOut;
    EXPECT_TRUE(Contains(strOut, "  Step: handing over to the installed client's admission service")) << strOut;
    EXPECT_FALSE(Contains(strOut, "The files hold the lines of")) << strOut;
    // One timeline of the files, each line marked with its file; 7-Zip's
    // output stays with the entry that logged it, on indented lines.
    EXPECT_EQ(1u, LinesStarting(strOut, "  setup" + kt::TodayStamp() + ".log").size()) << strOut;
    EXPECT_TRUE(HasEntry(strOut, "stp_UtlFile", "[0x", "utl_FileUnpack: pszSrcPath = ")) << strOut;
    EXPECT_TRUE(HasEntry(strOut, "setup", "[", "install failed with Err 355.")) << strOut;
    std::vector<std::string> okLines = LinesStarting(strOut, "      ");
    size_t nOk = 0;
    for (const std::string& strLine : okLines)
        nOk += Contains(strLine, "Everything is Ok");
    EXPECT_EQ(2u, nOk) << "Qt.7z and WebCmdCustomCfg.7z\n" << strOut;
    EXPECT_EQ(0u, Count(strOut, "] Everything is Ok"));
    EXPECT_EQ(before, Snapshot(kLogs)) << "the folder is only read";

    // A second run on the same day, the installer's.
    kt::Payload full("full");
    full.AddStandard();
    ASSERT_EQ(0, RunSetup(full, "full_out"));
    EXPECT_EQ(0, Tool("", strOut)) << strOut;
    EXPECT_EQ(std::vector<std::string>({"Verdict: installed: the installer KavlaSetup.exe started and ended, and "
                                        "Setup.exe ended (\"Exit main\")."}),
              LinesStarting(strOut, "Verdict:")) << strOut;
    EXPECT_TRUE(Contains(strOut, "The files hold the lines of 2 runs; shown: the last one")) << strOut;
    EXPECT_EQ(1u, Count(strOut, "] Exit main")) << strOut;
    EXPECT_FALSE(Contains(strOut, "Err 355")) << strOut;

    EXPECT_EQ(0, Tool("--all", strOut)) << strOut;
    EXPECT_EQ(std::vector<std::string>({"Verdict: install failed with Err 355.",
                                        "Verdict: installed: the installer KavlaSetup.exe started and ended, and "
                                        "Setup.exe ended (\"Exit main\")."}),
              LinesStarting(strOut, "Verdict:")) << strOut;
    EXPECT_EQ(2u, LinesStarting(strOut, "--- Run ").size()) << strOut;
    EXPECT_EQ(2u, Count(strOut, "] Exit main")) << strOut;
    // The second run's lines are all after the second run's header.
    size_t nRun2 = strOut.find("--- Run 2 of 2, from ");
    ASSERT_NE(std::string::npos, nRun2) << strOut;
    EXPECT_EQ(1u, Count(strOut.substr(0, nRun2), "is missing")) << "355 judged in run 1 only";
    EXPECT_EQ(0u, Count(strOut.substr(0, nRun2), "is-stp ended at")) << strOut;
    EXPECT_EQ(1u, Count(strOut.substr(nRun2), "is-stp ended at")) << strOut;

    // The same folder copied elsewhere, named with a trailing separator (no
    // quotes: before one, the separator would escape it), the day given.
    std::string strCopy = kt::NewTempFolder("copied");
    for (const auto& kv : Snapshot(kLogs))
        ASSERT_TRUE(kt::WriteBytes(strCopy + "\\" + kv.first, kv.second));
    std::string strCopyOut;
    EXPECT_EQ(0, Tool(strCopy + "\\ --date " + kt::TodayStamp().substr(0, 8), strCopyOut)) << strCopyOut;
    EXPECT_EQ(LinesStarting(strOut, "--- Run 2"), LinesStarting(strCopyOut, "--- Run 2")) << strCopyOut;
    EXPECT_EQ(3, Tool("\"" + strCopy + "\" --date 20000101", strOut)) << strOut;
}

TEST_F(KavlaLog, FailedUnpackNamesTheCarrier)
{
    KT_SKIP_IF_EMULATED();
    kt::Payload payload("cut");
    payload.AddStandard();
    std::string strBuilt = kt::NewTempFolder("cut_out") + "\\Setup.exe";
    ASSERT_TRUE(payload.BuildCarrier(kt::DistPath("Setup.exe"), strBuilt));
    // The end marker and the tail of the last record cut off.
    std::string strFull = kt::ReadBytes(strBuilt);
    ASSERT_TRUE(kt::WriteBytes(strBuilt, strFull.substr(0, strFull.size() - 30)));
    ASSERT_EQ(0, kt::RunCarrier(strBuilt, std::string(kt::kDownloads) + "\\Setup.exe", RUN_TIMEOUT_MS));

    std::string strOut;
    EXPECT_EQ(1, Tool("", strOut)) << strOut;
    EXPECT_EQ(std::vector<std::string>({"Verdict: install failed with Err 163."}),
              LinesStarting(strOut, "Verdict:")) << strOut;
    // The carrier's path as the program's file name gives it (Wine writes "users").
    std::vector<std::string> steps = LinesStarting(strOut, "  Step:");
    ASSERT_EQ(1u, steps.size()) << strOut;
    EXPECT_EQ(0, _stricmp(("  Step: unpacking the payload of " + std::string(kt::kDownloads) + "\\Setup.exe").c_str(),
                          steps[0].c_str()))
        << steps[0];
    EXPECT_TRUE(Contains(strOut, "  What an administrator can do: download Setup.exe again")) << strOut;
}

TEST_F(KavlaLog, CancelledPasswordStopsBeforeTheInstall)
{
    KT_SKIP_IF_EMULATED();
    kt::ProtectThroughRegistry(kt::StoredText("Secret-42"));
    kt::DialogRun run = kt::StartAndWaitForDialog("Uninstall Password");
    ASSERT_NE(nullptr, run.hDlg);
    kt::PressButton(run.hDlg, IDCANCEL);
    ASSERT_EQ(0, kt::Wait(run.proc, RUN_TIMEOUT_MS));

    std::string strOut;
    EXPECT_EQ(1, Tool("", strOut)) << strOut;
    EXPECT_EQ(std::vector<std::string>({"Verdict: stopped before the install: the uninstall password was asked for "
                                        "and not given (Cancel, the dialog closed, or three wrong passwords)."}),
              LinesStarting(strOut, "Verdict:")) << strOut;
    EXPECT_TRUE(HasEntry(strOut, "stp_setup", "[0x", "IsUninstallPrompt:Need prompt uninstall password Dlg"))
        << strOut;
}

TEST_F(KavlaLog, BadInputKeepsItsLinesAndGetsItsExitCode)
{
    std::string strDir = kt::NewTempFolder("badlogs");
    // Lines before the first stamp, an impossible stamp, control bytes; an
    // earlier day refused for its free space; a module log of bare garbage;
    // a file of another name, which is no log of the setup.
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\setup2024050103.log",
                               std::string("garbage first\r\n[2024-05-01 10:00:00] [1a] The C: free space is 5000M.\r\n"
                                           "[2024-13-01 10:00:01] [1a] bad stamp\r\n\x01\x02 binary\x1b tail\r\n"
                                           "[2024-05-01 10:00:02] [1a] Exit main\r\n")));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\stp_junk2024050103.log", std::string("\xff\xfe junk \x7f\x80", 10)));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\setup2024043002.log", "[2024-04-30 09:00:00] [1a] The C: free space is 100M.\r\n"));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\notes.txt", "[2024-05-01 10:00:01] [1a] not a log of the setup\r\n"));
    std::map<std::string, std::string> before = Snapshot(strDir);

    std::string strOut;
    EXPECT_EQ(1, Tool("\"" + strDir + "\"", strOut)) << strOut;
    EXPECT_EQ(std::vector<std::string>({"Verdict: these lines do not show how the run ended."}),
              LinesStarting(strOut, "Verdict:")) << strOut;
    for (const char* pszKept : {"garbage first", "bad stamp", "\\x01\\x02 binary\\x1b tail", "\xff\xfe junk \x7f\x80"})
        EXPECT_TRUE(Contains(strOut, pszKept)) << pszKept << "\n" << strOut;
    EXPECT_TRUE(Contains(strOut, "Note: 2 lines have no time stamp of their own")) << strOut;
    EXPECT_FALSE(Contains(strOut, "not a log of the setup")) << strOut;
    EXPECT_FALSE(Contains(strOut, "The files hold the lines of")) << strOut;
    EXPECT_EQ(before, Snapshot(strDir));
    KT_SKIP_IF_EMULATED();

    EXPECT_EQ(1, Tool("\"" + strDir + "\" --date 20240430", strOut)) << strOut;
    EXPECT_EQ(std::vector<std::string>({"Verdict: stopped before the install: refused, only 100 MB free on the system "
                                        "drive (300 MB needed)."}),
              LinesStarting(strOut, "Verdict:")) << strOut;
    EXPECT_EQ(3, Tool("\"" + strDir + "\" --date 20240502", strOut)) << strOut;
    EXPECT_EQ(3, Tool("\"" + strDir + "\\missing\"", strOut)) << strOut;
    EXPECT_TRUE(Contains(strOut, "no log files")) << strOut;
    EXPECT_EQ(3, Tool("", strOut)) << "no C:\\KavlaLog in a fresh prefix\n" << strOut;
    for (const char* pszArgs : {"--date 2024", "--date 20241301", "--bogus", "a b", "--date"})
        EXPECT_EQ(2, Tool(pszArgs, strOut)) << pszArgs << "\n" << strOut;
    EXPECT_EQ(2, Tool("--help", strOut));
    EXPECT_TRUE(Contains(strOut, "exit codes: 0 installed, 1 install failed")) << strOut;
    EXPECT_EQ(before, Snapshot(strDir));
}

// Every number the install can end with, taken from the program's own lists,
// has a meaning, a step and a remedy in both languages; the numbers only the
// container writer sets, which the install never reports, have none.
TEST(KavlaLogTexts, EveryInstallErrorHasItsMeaningStepAndRemedy)
{
    for (DWORD dwErr : kInstallErrors) {
        const kavlalog::ErrInfo* pInfo = kavlalog::FindError(dwErr);
        ASSERT_NE(nullptr, pInfo) << "Err " << dwErr;
        for (const TextPair& text : {pInfo->meaning, pInfo->step, pInfo->action}) {
            EXPECT_TRUE(text.pszEnglish && text.pszEnglish[0]) << "Err " << dwErr;
            EXPECT_TRUE(text.pszChinese && text.pszChinese[0]) << "Err " << dwErr;
        }
    }
#define WRITER_ONLY(name, number) name,
    for (DWORD dwErr : {PACK_WRITER_ERRORS(WRITER_ONLY)})
        EXPECT_EQ(nullptr, kavlalog::FindError(dwErr)) << "Err " << dwErr;
#undef WRITER_ONLY
}
