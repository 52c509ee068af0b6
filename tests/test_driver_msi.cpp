// The MSI carrier end to end: when the installed client asked for an
// MSI-based upgrade, the payload comes from a copy of the client's MSI
// package beside the setup program, whatever the program's file is called.
#include <gtest/gtest.h>
#include "driver_runs.h"
#include "testutil.h"
#include <string>
#include <vector>

namespace {

const DWORD RUN_TIMEOUT_MS = 120000;
const std::string W = kt::kWorkDir;
const std::string DL = kt::kDownloads;
const std::string NET_MSI = "C:\\kt_net\\share\\Client.msi";

// A carrier whose payload is only a marker file: the run ends with 355 (no
// admission service) right after the unpacking, which shows where the
// payload came from.
std::string MarkerCarrier(const std::string& strMarker)
{
    kt::Payload payload(strMarker);
    payload.Add(strMarker, "payload of " + strMarker);
    std::string strOut = kt::NewTempFolder(strMarker + "_out") + "\\carrier.bin";
    EXPECT_TRUE(payload.BuildCarrier(kt::DistPath("Setup.exe"), strOut, true));
    return strOut;
}

class MsiCarrier : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (kt::IsEmulated())
            return;
        m_strOwn = MarkerCarrier("from_exe.txt");
        m_strMsi = MarkerCarrier("from_msi.txt");
        m_strOldCopy = MarkerCarrier("from_old_copy.txt");
    }
    void Reset()
    {
        kt::ResetRunState();
        kt::RemoveTree(DL);
        kt::RemoveTree("C:\\kt_net");
        kt::MakeDirs(DL);
        DWORD dw = 0;
        EXPECT_FALSE(kt::RegGetDword(kt::kKavlaKey, "InstallByMsi", &dw));
    }
    std::string m_strOwn, m_strMsi, m_strOldCopy;
};

} // namespace

TEST_F(MsiCarrier, SourceCopyExistingCopyAndRefusals)
{
    KT_SKIP_IF_EMULATED();
    enum Pre { NO_COPY, COPY_FILE, COPY_FOLDER };
    struct Case {
        const char* pszTag;
        const char* pszExeName;       // the setup program's file name in Downloads
        int nByMsi;                   // InstallByMsi: its value, -1 when absent
        const char* pszKavlaSource;   // MsiSourceName under SOFTWARE\Kavla (nullptr: none)
        const char* pszUninstSource;  // under the MSI product's Uninstall key
        bool bSourceExists;
        Pre ePre;                     // what lies at Downloads\KavlaSetup.msi before
        const char* pszMarker;        // payload file expected in W (nullptr: no unpack)
        DWORD dwErr;
        std::vector<std::string> lines;  // expected in this order
        size_t nSourceRetries;        // "can't get source path." lines
    };
    const std::string strNet = NET_MSI;
    const Case aCases[] = {
        {"plain_run", "Setup.exe", -1, strNet.c_str(), nullptr, true, NO_COPY, "from_exe.txt", 355,
         {"install failed with Err 355.", "Exit main"}, 0},
        // A request answered before: the program's own payload, the value stays.
        {"msi_flag_zero", "Setup.exe", 0, strNet.c_str(), nullptr, true, NO_COPY, "from_exe.txt", 355,
         {"install failed with Err 355.", "Exit main"}, 0},
        // A second download keeps its copy in its own folder.
        {"renamed_setup", "Setup (1).exe", 1, strNet.c_str(), nullptr, true, NO_COPY, "from_msi.txt", 355,
         {"msi install.", "install failed with Err 355.", "Exit main"}, 0},
        {"uninstall_key_after_one_look", "Setup.exe", 1, nullptr, strNet.c_str(), true, NO_COPY,
         "from_msi.txt", 355, {"msi install.", "can't get source path.", "install failed with Err 355."}, 1},
        {"existing_copy_wins", "KavlaClient.exe", 1, strNet.c_str(), nullptr, true, COPY_FILE,
         "from_old_copy.txt", 355, {"msi install.", "InstallScript has copy msi file.", "install failed with Err 355."}, 0},
        {"source_file_missing", "Setup.exe", 1, strNet.c_str(), nullptr, false, NO_COPY, nullptr, 0,
         {"msi install.", "Network problem, cannot access source file.", "install failed with Err 0.", "Exit main"}, 0},
        // A folder where the copy should go: the copy fails.
        {"copy_fails", "Setup.exe", 1, strNet.c_str(), nullptr, true, COPY_FOLDER, nullptr, 0,
         {"msi install.", "Cannot use setup copy msi file, accessible error.", "install failed with Err 0.", "Exit main"}, 0},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.pszTag);
        Reset();
        if (c.nByMsi >= 0) {
            ASSERT_TRUE(kt::RegSetDword(kt::kKavlaKey, "InstallByMsi", (DWORD)c.nByMsi));
        }
        if (c.pszKavlaSource) {
            ASSERT_TRUE(kt::RegSetString(kt::kKavlaKey, "MsiSourceName", c.pszKavlaSource));
        }
        if (c.pszUninstSource) {
            ASSERT_TRUE(kt::RegSetString(kt::kMsiUninstallKey, "MsiSourceName", c.pszUninstSource));
        }
        if (c.bSourceExists) {
            ASSERT_TRUE(kt::WriteBytes(NET_MSI, kt::ReadBytes(m_strMsi)));
        }
        const std::string strCopy = DL + "\\KavlaSetup.msi";
        if (c.ePre == COPY_FILE) {
            ASSERT_TRUE(kt::WriteBytes(strCopy, kt::ReadBytes(m_strOldCopy)));
        }
        if (c.ePre == COPY_FOLDER) {
            ASSERT_TRUE(kt::MakeDirs(strCopy));
        }

        const std::string strExe = DL + "\\" + c.pszExeName;
        ASSERT_EQ(0, kt::RunCarrier(m_strOwn, strExe, RUN_TIMEOUT_MS));

        std::vector<std::string> lines = kt::SetupMessages();
        EXPECT_TRUE(kt::HasInOrder(lines, c.lines));
        EXPECT_EQ(c.nSourceRetries, kt::CountLine(lines, "can't get source path."));
        EXPECT_EQ(c.nByMsi == 1 ? 1u : 0u, kt::CountLine(lines, "msi install."));
        // The request is answered once, whatever became of the install.
        DWORD dwByMsi = 7;
        if (c.nByMsi >= 0) {
            EXPECT_TRUE(kt::RegGetDword(kt::kKavlaKey, "InstallByMsi", &dwByMsi));
            EXPECT_EQ(0u, dwByMsi);
        } else {
            EXPECT_FALSE(kt::RegGetDword(kt::kKavlaKey, "InstallByMsi", &dwByMsi));
        }
        if (c.pszMarker) {
            EXPECT_EQ(std::string("payload of ") + c.pszMarker, kt::ReadBytes(W + "\\" + c.pszMarker));
            EXPECT_EQ(1u, kt::ListFolder(W).size() - (kt::IsFolder(W + "\\Qt") + kt::IsFolder(W + "\\component")
                                                      + kt::IsFolder(W + "\\Data")))
                << "only the chosen carrier's payload";
        } else {
            EXPECT_FALSE(kt::Exists(W)) << "the carrier comes before the work folder";
        }
        if (c.ePre == NO_COPY && c.nByMsi == 1 && c.bSourceExists) {
            EXPECT_EQ(kt::ReadBytes(NET_MSI), kt::ReadBytes(strCopy)) << "the copy beside the program";
        }
        if (c.ePre == COPY_FILE) {
            EXPECT_EQ(kt::ReadBytes(m_strOldCopy), kt::ReadBytes(strCopy)) << "an existing copy is kept";
        }
        if (c.nByMsi != 1) {
            EXPECT_FALSE(kt::Exists(strCopy));
        }
        // The old rule (full path minus nine characters) would have put the
        // copy at "Downloads\Setup (KavlaSetup.msi".
        EXPECT_FALSE(kt::Exists(DL + "\\Setup (KavlaSetup.msi"));
    }
}

// The ten-second path, once: no source path anywhere and no copy beside the program.
TEST_F(MsiCarrier, NoSourceAnywhereAfterTenLooksASecondApart)
{
    KT_SKIP_IF_EMULATED();
    Reset();
    ASSERT_TRUE(kt::RegSetDword(kt::kKavlaKey, "InstallByMsi", 1));
    DWORD dwStart = GetTickCount();
    ASSERT_EQ(0, kt::RunCarrier(m_strOwn, DL + "\\Setup.exe", RUN_TIMEOUT_MS));
    DWORD dwElapsed = GetTickCount() - dwStart;

    std::vector<std::string> lines = kt::SetupMessages();
    EXPECT_EQ(10u, kt::CountLine(lines, "can't get source path."));
    EXPECT_TRUE(kt::HasInOrder(lines, {"msi install.", "can't get source path.",
                                       "Network problem, cannot access source file.", "install failed with Err 0.",
                                       "Exit main"}));
    EXPECT_GE(dwElapsed, 10000u) << "ten looks, 1000 ms each";
    DWORD dwByMsi = 7;
    EXPECT_TRUE(kt::RegGetDword(kt::kKavlaKey, "InstallByMsi", &dwByMsi));
    EXPECT_EQ(0u, dwByMsi);
    EXPECT_FALSE(kt::Exists(W));
    EXPECT_FALSE(kt::Exists(DL + "\\KavlaSetup.msi"));
}
