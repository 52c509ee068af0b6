// The install driver end to end: a Setup.exe built with the payload tool,
// run from a downloads folder in the test's prefix, judged by its log, the
// work folder, the registry and what the started programs recorded.
#include <gtest/gtest.h>
#include "driver_runs.h"
#include "pack.h"
#include "testutil.h"
#include <algorithm>
#include <string>
#include <vector>

namespace {

const DWORD RUN_TIMEOUT_MS = 180000;
const std::string W = kt::kWorkDir;

std::string SetupPath() { return std::string(kt::kDownloads) + "\\Setup.exe"; }

// Builds Setup.exe with the payload, runs it and returns its exit code.
int BuildAndRun(const kt::Payload& payload, const std::string& strTag, bool bIncomplete = false)
{
    return kt::BuildAndRunSetup(payload, strTag, bIncomplete);
}

size_t CountPrefix(const std::vector<std::string>& lines, const std::string& strPrefix)
{
    size_t n = 0;
    for (const std::string& s : lines)
        n += s.compare(0, strPrefix.size(), strPrefix) == 0;
    return n;
}

// The number N of the line "<prefix>N<suffix>", -1 when there is none.
long NumberAfter(const std::vector<std::string>& lines, const std::string& strPrefix)
{
    for (const std::string& s : lines)
        if (s.compare(0, strPrefix.size(), strPrefix) == 0)
            return strtol(s.c_str() + strPrefix.size(), NULL, 10);
    return -1;
}

class DriverInstall : public ::testing::Test {
protected:
    void SetUp() override { kt::StartWholeRun(600, 1200); }
};

} // namespace

TEST_F(DriverInstall, NormalInstallFromItsOwnFile)
{
    KT_SKIP_IF_EMULATED();
    kt::Payload payload("normal");
    payload.AddStandard();
    // What an earlier run left: its files go, DAM goes, other subfolders stay,
    // WebCmdCustomCfg is rebuilt from the new archive.
    ASSERT_TRUE(kt::WriteBytes(W + "\\stale.txt", "old"));
    ASSERT_TRUE(kt::WriteBytes(W + "\\DAM\\dam.dat", "old dam"));
    ASSERT_TRUE(kt::WriteBytes(W + "\\keep\\kept.txt", "kept"));
    ASSERT_TRUE(kt::WriteBytes(W + "\\WebCmdCustomCfg\\old\\stale.xml", "old cfg"));

    std::string strCarrier = kt::NewTempFolder("normal_out") + "\\Setup.exe";
    ASSERT_TRUE(payload.BuildCarrier(kt::DistPath("Setup.exe"), strCarrier));
    std::string strSetup = SetupPath();
    kt::MakeDirs(kt::kDownloads);
    ASSERT_TRUE(CopyFileA(strCarrier.c_str(), strSetup.c_str(), FALSE));
    kt::Proc proc = kt::Start("\"" + strSetup + "\"", kt::kDownloads);
    ASSERT_NE(nullptr, proc.hProcess);
    // The installer's own window shows while the setup program still waits.
    HWND hInstaller = kt::WaitForWindow("Kavla Client Installer (stand-in)", 60000);
    EXPECT_NE(nullptr, hInstaller);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(proc.hProcess, 0));
    ASSERT_EQ(0, kt::Wait(proc, RUN_TIMEOUT_MS));
    DWORD dwSetupEnd = GetTickCount();

    // The log: archives and their exact 7-Zip command lines, 7-Zip's word on
    // them, the installer's waits, and no failure.
    std::vector<std::string> lines = kt::SetupMessages();
    EXPECT_TRUE(kt::HasInOrder(lines, {W + "\\Qt.7z", kt::SevenZipCmdFor("Qt.7z"), "Everything is Ok",
                                       W + "\\WebCmdCustomCfg.7z", kt::SevenZipCmdFor("WebCmdCustomCfg.7z"),
                                       "Everything is Ok", "Exit main"}));
    long nStarted = NumberAfter(lines, "is-stp started at ");
    long nEnded = NumberAfter(lines, "is-stp ended at ");
    EXPECT_GE(nStarted, 0);
    EXPECT_LT(nStarted, 600);
    // The stand-in stays 1.2 s: the end wait looks more than once.
    EXPECT_GE(nEnded, 1);
    EXPECT_TRUE(kt::HasLine(lines, "is-stp ended at " + std::to_string(nEnded) + "."));
    EXPECT_EQ(0u, CountPrefix(lines, "install failed"));
    EXPECT_FALSE(kt::HasLine(lines, "msi install."));
    EXPECT_FALSE(kt::HasLine(lines, "unpack managecfg fail!"));
    EXPECT_EQ("Exit main", lines.empty() ? "" : lines.back());

    // The work folder: the payload, the component pack, the archives' trees.
    for (const std::string& strName : payload.Names())
        EXPECT_EQ(kt::ReadBytes(payload.PathOf(strName)), kt::ReadBytes(W + "\\" + strName)) << strName;
    EXPECT_FALSE(kt::Exists(W + "\\stale.txt"));
    EXPECT_FALSE(kt::Exists(W + "\\DAM"));
    EXPECT_EQ("kept", kt::ReadBytes(W + "\\keep\\kept.txt"));
    EXPECT_FALSE(kt::Exists(W + "\\^Kavla_end^"));
    for (const auto& kv : kt::StandardComponentFiles())
        EXPECT_EQ(kv.second, kt::ReadBytes(W + "\\component\\" + kv.first)) << kv.first;
    for (const auto& kv : kt::StandardQtFiles())
        EXPECT_EQ(kv.second, kt::ReadBytes(W + "\\Qt\\" + kv.first)) << kv.first;
    // The old tree is gone: only what the new archive holds.
    EXPECT_EQ(std::vector<std::string>({"cmdcfg.xml"}), kt::ListFolder(W + "\\WebCmdCustomCfg"));
    for (const auto& kv : kt::StandardCmdCfgFiles())
        EXPECT_EQ(kv.second, kt::ReadBytes(W + "\\WebCmdCustomCfg\\" + kv.first)) << kv.first;

    // Customisation files: DATA and one folder per profile prefix, nothing else.
    const auto& files = kt::StandardFiles();
    EXPECT_EQ(files.at("locations.xml"), kt::ReadBytes(W + "\\DATA\\locations.xml"));
    EXPECT_EQ(files.at("conn_cfg.ini"), kt::ReadBytes(W + "\\DATA\\conn_cfg.ini"));
    EXPECT_EQ(files.at("office-cfg.xml"), kt::ReadBytes(W + "\\data\\office\\cfg.xml"));
    EXPECT_EQ(files.at("branch-a-cfg.xml"), kt::ReadBytes(W + "\\data\\branch\\a-cfg.xml"));
    EXPECT_EQ(std::vector<std::string>({"branch", "conn_cfg.ini", "locations.xml", "office"}),
              kt::ListFolder(W + "\\Data"));
    EXPECT_FALSE(kt::Exists(W + "\\cfg.xml"));  // "..-cfg.xml" did not climb out of data

    // The started programs: the admission service twice, hidden, one after
    // the other; then the installer, shown, after the service had ended.
    std::vector<kt::StandinEvent> events = kt::StandinEvents();
    auto pymStarts = kt::EventsOf(events, "pymApxSvr", "start");
    auto pymEnds = kt::EventsOf(events, "pymApxSvr", "end");
    auto setupStarts = kt::EventsOf(events, "KavlaSetup", "start");
    auto setupEnds = kt::EventsOf(events, "KavlaSetup", "end");
    ASSERT_EQ(2u, pymStarts.size());
    ASSERT_EQ(2u, pymEnds.size());
    ASSERT_EQ(1u, setupStarts.size());
    ASSERT_EQ(1u, setupEnds.size());
    EXPECT_EQ(1u, kt::EventsOf(events, "KavlaSetup", "window").size());
    const std::string strPym = W + "\\pymApxSvr.exe";
    EXPECT_EQ("\"" + strPym + "\" -setUpdInfo", pymStarts[0].strCmd);
    EXPECT_EQ("\"" + strPym + "\" -exitpymclient", pymStarts[1].strCmd);
    EXPECT_EQ(strPym, pymStarts[0].strExe);
    EXPECT_EQ(SW_HIDE, pymStarts[0].nShow);
    EXPECT_EQ(SW_HIDE, pymStarts[1].nShow);
    EXPECT_EQ(W + "\\KavlaSetup.exe", setupStarts[0].strExe);
    EXPECT_EQ(SW_SHOW, setupStarts[0].nShow);
    // No working folder is given: the programs inherit the setup program's.
    EXPECT_EQ(std::string(kt::kDownloads), setupStarts[0].strCwd);
    EXPECT_LE(pymEnds[0].ulTick, pymStarts[1].ulTick);
    EXPECT_LE(pymEnds[1].ulTick, setupStarts[0].ulTick);
    EXPECT_LE(setupEnds[0].ulTick, dwSetupEnd);

    // No MSI business on a plain run.
    DWORD dw = 0;
    EXPECT_FALSE(kt::RegGetDword(kt::kKavlaKey, "InstallByMsi", &dw));
    EXPECT_FALSE(kt::Exists(std::string(kt::kDownloads) + "\\KavlaSetup.msi"));
}

TEST_F(DriverInstall, BrokenQtArchiveIsRecordedAndTheInstallGoesOn)
{
    KT_SKIP_IF_EMULATED();
    kt::Payload payload("brokenqt");
    payload.AddStandard();
    // A real archive cut in half: 7-Zip opens it and reports the damage.
    std::string strQt = kt::ReadBytes(payload.PathOf("Qt.7z"));
    payload.Add("Qt.7z", strQt.substr(0, strQt.size() / 2));
    ASSERT_EQ(0, BuildAndRun(payload, "brokenqt_out"));

    std::vector<std::string> lines = kt::SetupMessages();
    ASSERT_TRUE(kt::HasInOrder(lines, {kt::SevenZipCmdFor("Qt.7z"), W + "\\WebCmdCustomCfg.7z",
                                       kt::SevenZipCmdFor("WebCmdCustomCfg.7z"), "Everything is Ok"}));
    auto itQt = std::find(lines.begin(), lines.end(), kt::SevenZipCmdFor("Qt.7z"));
    auto itCfg = std::find(itQt, lines.end(), W + "\\WebCmdCustomCfg.7z");
    EXPECT_EQ(itCfg, std::find(itQt, itCfg, "Everything is Ok")) << "7-Zip did not call the broken archive Ok";
    EXPECT_GT(itCfg - itQt, 1) << "7-Zip's output is logged";
    // Not fatal: the service and the installer ran, the driver reported success.
    auto events = kt::StandinEvents();
    EXPECT_EQ(2u, kt::EventsOf(events, "pymApxSvr", "start").size());
    EXPECT_EQ(1u, kt::EventsOf(events, "KavlaSetup", "end").size());
    EXPECT_GE(NumberAfter(lines, "is-stp ended at "), 0);
    EXPECT_EQ(0u, CountPrefix(lines, "install failed"));
    EXPECT_EQ(kt::StandardCmdCfgFiles().at("cmdcfg.xml"), kt::ReadBytes(W + "\\WebCmdCustomCfg\\cmdcfg.xml"));

    // The number itself shows only to a caller of the driver: the probe
    // carrier runs the same payload and records result and number.
    kt::ResetRunState();
    std::string strProbe = kt::NewTempFolder("brokenqt_probe") + "\\drv_probe.exe";
    ASSERT_TRUE(payload.BuildCarrier(kt::TestBinPath("drv_probe.exe"), strProbe));
    ASSERT_EQ(0, kt::Run("\"" + strProbe + "\"", RUN_TIMEOUT_MS));
    EXPECT_EQ("result=1 err=112 event_closed=1\n", kt::ReadBytes(kt::kProbeResult));
    EXPECT_EQ(1u, kt::EventsOf(kt::StandinEvents(), "KavlaSetup", "end").size());

    // No Qt archive at all and a broken command-line archive: both only
    // logged, no number, and the installer runs.
    kt::ResetRunState();
    kt::Payload noQt("noqt");
    noQt.AddStandard();
    noQt.Remove("Qt.7z");
    std::string strCfg = kt::ReadBytes(noQt.PathOf("WebCmdCustomCfg.7z"));
    noQt.Add("WebCmdCustomCfg.7z", strCfg.substr(0, strCfg.size() / 2));
    strProbe = kt::NewTempFolder("noqt_probe") + "\\drv_probe.exe";
    ASSERT_TRUE(noQt.BuildCarrier(kt::TestBinPath("drv_probe.exe"), strProbe));
    ASSERT_EQ(0, kt::Run("\"" + strProbe + "\"", RUN_TIMEOUT_MS));
    EXPECT_EQ("result=1 err=0 event_closed=1\n", kt::ReadBytes(kt::kProbeResult));
    lines = kt::SetupMessages();
    EXPECT_TRUE(kt::HasInOrder(lines, {W + "\\Qt.7z", kt::SevenZipCmdFor("WebCmdCustomCfg.7z"),
                                       "unpack managecfg fail!"}));
    EXPECT_FALSE(kt::HasLine(lines, kt::SevenZipCmdFor("Qt.7z")));
    EXPECT_EQ(1u, kt::EventsOf(kt::StandinEvents(), "KavlaSetup", "end").size());
}

TEST_F(DriverInstall, MissingProgramsEndTheInstallWithTheirNumbers)
{
    KT_SKIP_IF_EMULATED();
    struct Case {
        const char* pszTag;
        std::vector<std::string> omitted;
        DWORD dwErr;
        size_t nPymStarts;
    };
    const Case aCases[] = {
        // Without the admission service nothing is started, not even the
        // installer that is there. The optional pieces are missing too.
        {"no_pym", {"pymApxSvr.exe", "Qt.7z", "KavlaComponent.exe", "WebCmdCustomCfg.7z"}, 355, 0},
        // Without the installer the service has run both times.
        {"no_setup", {"KavlaSetup.exe"}, 357, 2},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.pszTag);
        kt::ResetRunState();
        kt::Payload payload(c.pszTag);
        payload.AddStandard();
        for (const std::string& strName : c.omitted)
            payload.Remove(strName);
        ASSERT_TRUE(kt::WriteBytes(W + "\\WebCmdCustomCfg\\old.xml", "old"));
        ASSERT_EQ(0, BuildAndRun(payload, std::string(c.pszTag) + "_out", true));

        std::vector<std::string> lines = kt::SetupMessages();
        EXPECT_TRUE(kt::HasInOrder(lines, {"install failed with Err " + std::to_string(c.dwErr) + ".", "Exit main"}));
        EXPECT_EQ(0u, CountPrefix(lines, "is-stp"));
        auto events = kt::StandinEvents();
        EXPECT_EQ(c.nPymStarts, kt::EventsOf(events, "pymApxSvr", "start").size());
        EXPECT_EQ(0u, kt::EventsOf(events, "KavlaSetup", "start").size());
        // The folders are made whether or not there is anything to put in them.
        EXPECT_TRUE(kt::IsFolder(W + "\\Qt"));
        EXPECT_TRUE(kt::IsFolder(W + "\\component"));
        if (!payload.Has("Qt.7z")) {
            EXPECT_TRUE(kt::ListFolder(W + "\\Qt").empty());
            EXPECT_TRUE(kt::ListFolder(W + "\\component").empty());
            EXPECT_FALSE(kt::Exists(W + "\\WebCmdCustomCfg"));
            EXPECT_TRUE(kt::HasLine(lines, W + "\\Qt.7z"));
            EXPECT_FALSE(kt::HasLine(lines, kt::SevenZipCmdFor("Qt.7z")));
        }
    }
}

TEST_F(DriverInstall, DamagedCarriersStopBeforeAnythingStarts)
{
    KT_SKIP_IF_EMULATED();
    // A tool-built carrier whose end is cut off inside the last file's record.
    kt::Payload payload("damaged");
    payload.AddStandard();
    std::string strBuilt = kt::NewTempFolder("damaged_out") + "\\Setup.exe";
    ASSERT_TRUE(payload.BuildCarrier(kt::DistPath("Setup.exe"), strBuilt));
    std::string strFull = kt::ReadBytes(strBuilt);
    std::string strBase = kt::ReadBytes(kt::DistPath("Setup.exe"));
    ASSERT_LT(strBase.size(), (size_t)PACK_SETUP_OFFSET);
    std::string strPadded = strBase + std::string(PACK_SETUP_OFFSET - strBase.size(), '\0');

    struct Case {
        const char* pszTag;
        std::string strCarrier;  // empty: the tool-built one, C:\tmp blocked
        DWORD dwErr;
    };
    const Case aCases[] = {
        // Exactly up to the offset: no payload at all.
        {"size_3300000", strPadded, 352},
        // One byte more passes the size rule and reaches the reader.
        {"size_3300001", strPadded + "X", 159},
        {"bad_magic", strPadded + std::string(17, 'Z') + std::string(40, '\0'), 160},
        // 30 bytes cut: the end marker (19 bytes) and the tail of the last
        // record, whose length fields are still there.
        {"truncated", strFull.substr(0, strFull.size() - 30), 163},
        // The work folder cannot be made where a file named tmp stands
        // that another program keeps open, so that it cannot be moved aside.
        {"tmp_is_a_file_in_use", strFull, 351},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.pszTag);
        kt::ResetRunState();
        kt::RemoveTree("C:\\tmp");
        HANDLE hTmpFile = INVALID_HANDLE_VALUE;
        if (c.dwErr == 351) {
            ASSERT_TRUE(kt::WriteBytes("C:\\tmp", "a file"));
            hTmpFile = CreateFileA("C:\\tmp", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, hTmpFile);
        }
        std::string strCarrier = kt::NewTempFolder(c.pszTag) + "\\Setup.exe";
        ASSERT_TRUE(kt::WriteBytes(strCarrier, c.strCarrier));
        ASSERT_EQ(0, kt::RunCarrier(strCarrier, SetupPath(), RUN_TIMEOUT_MS));
        if (hTmpFile != INVALID_HANDLE_VALUE)
            CloseHandle(hTmpFile);

        std::vector<std::string> lines = kt::SetupMessages();
        EXPECT_TRUE(kt::HasInOrder(lines, {"install failed with Err " + std::to_string(c.dwErr) + ".", "Exit main"}));
        EXPECT_EQ(0u, CountPrefix(lines, "is-stp"));
        EXPECT_FALSE(kt::Exists(kt::kStandinLog)) << "nothing may start after a failed unpack";
        if (c.dwErr == 352) {
            EXPECT_TRUE(kt::IsFolder(W) && kt::ListFolder(W).empty());
        }
        if (c.dwErr == 163) {
            // Records before the damage were written, and not one of them started.
            EXPECT_TRUE(kt::Exists(W + "\\pymApxSvr.exe"));
            EXPECT_TRUE(kt::Exists(W + "\\KavlaSetup.exe"));
            EXPECT_FALSE(kt::Exists(W + "\\Qt"));
        }
        if (c.dwErr == 351) {
            EXPECT_EQ("a file", kt::ReadBytes("C:\\tmp"));
        }
    }
    kt::RemoveTree("C:\\tmp");
}

// The thirty-second path, once: an installer file that is no program never
// shows up in the process list.
TEST_F(DriverInstall, InstallerThatNeverAppearsIsWaitedForThirtySeconds)
{
    KT_SKIP_IF_EMULATED();
    kt::Payload payload("noappear");
    payload.AddStandard();
    payload.Add("KavlaSetup.exe", "this file is no program\r\n");
    DWORD dwStart = GetTickCount();
    ASSERT_EQ(0, BuildAndRun(payload, "noappear_out"));
    DWORD dwElapsed = GetTickCount() - dwStart;

    std::vector<std::string> lines = kt::SetupMessages();
    EXPECT_TRUE(kt::HasInOrder(lines, {"is-stp started at 600", "is-stp ended at 0.", "Exit main"}));
    EXPECT_EQ(0u, CountPrefix(lines, "install failed"));
    EXPECT_GE(dwElapsed, 30000u) << "600 looks 50 ms apart";
    auto events = kt::StandinEvents();
    EXPECT_EQ(2u, kt::EventsOf(events, "pymApxSvr", "end").size());
    EXPECT_EQ(0u, kt::EventsOf(events, "KavlaSetup", "start").size());
}
