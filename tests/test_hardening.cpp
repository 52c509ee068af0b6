// The elevated setup against other local users, faults and concurrency: the
// work folder held during the install, an unwritable log folder, ten setup
// programs started at once, and a payload cut anywhere.
#include <gtest/gtest.h>
#include "driver_runs.h"
#include "entry_runs.h"
#include "pack.h"
#include "testutil.h"

namespace {

const DWORD RUN_TIMEOUT_MS = 180000;

std::string PreparedCarrier(const std::string& strTag)
{
    kt::Payload payload(strTag);
    payload.AddStandard();
    std::string strCarrier = kt::NewTempFolder(strTag + "_out") + "\\Setup.exe";
    EXPECT_TRUE(payload.BuildCarrier(kt::DistPath("Setup.exe"), strCarrier));
    std::string strSetup = std::string(kt::kDownloads) + "\\Setup.exe";
    kt::MakeDirs(kt::kDownloads);
    EXPECT_TRUE(CopyFileA(strCarrier.c_str(), strSetup.c_str(), FALSE));
    return strSetup;
}

} // namespace

TEST(HardeningRun, WorkFolderCannotBeRenamedWhileTheInstallerRuns)
{
    KT_SKIP_IF_EMULATED();
    kt::ResetRunState();
    kt::SetStandinDurations(300, 4000);
    std::string strSetup = PreparedCarrier("hold");
    kt::Proc proc = kt::Start("\"" + strSetup + "\"", kt::kDownloads);
    ASSERT_NE(nullptr, kt::WaitForWindow("Kavla Client Installer (stand-in)", 60000));
    std::string w = kt::kWorkDir;
    EXPECT_FALSE(MoveFileA(w.c_str(), "C:\\tmp\\replaced"));
    EXPECT_FALSE(kt::Exists("C:\\tmp\\replaced"));
    EXPECT_TRUE(kt::Exists(w + "\\KavlaSetup.exe"));
    ASSERT_EQ(0, kt::Wait(proc, RUN_TIMEOUT_MS));
    // Released at the end: the installer has ended.
    EXPECT_TRUE(MoveFileA(w.c_str(), "C:\\tmp\\replaced"));
}

TEST(HardeningRun, UnwritableLogFolderNeverStopsTheProgram)
{
    KT_SKIP_IF_EMULATED();
    kt::ResetRunState();
    kt::SetStandinDurations(300, 600);
    kt::RemoveTree("C:\\KavlaLog");
    ASSERT_TRUE(kt::WriteBytes("C:\\KavlaLog", "a file where the log folder should be"));
    std::string strSetup = PreparedCarrier("nolog");
    EXPECT_EQ(0, kt::Run("\"" + strSetup + "\"", RUN_TIMEOUT_MS, kt::kDownloads));
    EXPECT_EQ(1u, kt::EventsOf(kt::StandinEvents(), "KavlaSetup", "start").size());
    EXPECT_FALSE(kt::IsFolder("C:\\KavlaLog"));
}

TEST(HardeningRun, TenSetupProgramsAtOnceOnlyOneProceeds)
{
    KT_SKIP_IF_EMULATED();
    kt::ResetRunState();
    kt::SetStandinDurations(300, 5000);
    std::string strSetup = PreparedCarrier("ten");
    std::vector<kt::Proc> procs;
    for (int i = 0; i < 10; ++i)
        procs.push_back(kt::Start("\"" + strSetup + "\"", kt::kDownloads));
    // Nine refusals, each a box of its own process.
    int nBoxes = 0, nProceeded = 0;
    for (kt::Proc& p : procs) {
        HWND hBox = kt::WaitForWindow(kt::kCaptionEn, 20000, p.dwPid, "#32770");
        if (hBox) {
            EXPECT_EQ(kt::kPrevInstanceEn, kt::ControlText(hBox, -1));
            kt::PressButton(hBox, IDOK);
            ++nBoxes;
        } else {
            ++nProceeded;
        }
    }
    EXPECT_EQ(9, nBoxes);
    EXPECT_EQ(1, nProceeded);
    for (kt::Proc& p : procs)
        EXPECT_EQ(0, kt::Wait(p, RUN_TIMEOUT_MS));
    EXPECT_EQ(1u, kt::EventsOf(kt::StandinEvents(), "KavlaSetup", "start").size());
    std::vector<std::string> lines = kt::SetupMessages();
    EXPECT_EQ(1u, kt::CountLine(lines, "Exit main"));
}

// Every cut of a real container: at each record boundary and inside each
// field. The reader ends with the number of the field it could not read in
// full, or succeeds when the cut falls exactly on a record boundary (the
// container then ends at its host's end); nothing is ever created outside.
TEST(HardeningPack, PayloadCutAnywhereEndsWithItsDocumentedError)
{
    std::string src = kt::NewTempFolder("cut_src");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"a.txt", "alpha"}, {"empty.bin", ""}, {"KavlaSetup.exe", std::string(5000, 'k')}};
    DWORD dwErr = 0;
    std::string dst = kt::NewTempFolder("cut_pack");
    for (size_t i = 0; i < files.size(); ++i) {
        ASSERT_TRUE(kt::WriteBytes(src + "\\" + files[i].first, files[i].second));
        ASSERT_EQ(1, utl_FilePack(src.c_str(), files[i].first.c_str(), dst.c_str(), "full.pak", &dwErr, i != 0));
    }
    std::string full = kt::ReadBytes(dst + "\\full.pak");
    // Field boundaries: header, then per record the two lengths, name, content.
    std::vector<std::pair<size_t, DWORD>> fields;  // end offset of a field, error when cut inside it
    size_t pos = PACK_MAGIC_LEN;
    fields.push_back({pos, 159});
    for (const auto& f : files) {
        fields.push_back({pos + 4, 161});
        fields.push_back({pos + 8, 162});
        pos += 8 + f.first.size() + f.second.size();
        fields.push_back({pos, 163});  // a record past the end is refused before its name is read
    }
    ASSERT_EQ(full.size(), pos);
    std::string host = kt::NewTempFolder("cut_host");
    int nCuts = 0;
    for (size_t cut = 1; cut < full.size(); ++cut) {
        // The field that a cut falls into is the first one ending after it;
        // a cut at the end of the header or of a record leaves a shorter but
        // whole container.
        DWORD dwWant = 0;
        bool bWhole = cut == PACK_MAGIC_LEN;
        for (const auto& field : fields) {
            if (field.second == 163 && cut == field.first)
                bWhole = true;
            if (!dwWant && field.first > cut)
                dwWant = field.second;
        }
        // Inside a long content a handful of cut lengths suffice.
        if (!bWhole && dwWant == 163 && cut % 97 != 0)
            continue;
        ASSERT_TRUE(kt::WriteBytes(host + "\\cut.pak", full.substr(0, cut)));
        std::string out = kt::NewTempFolder("cut_out");
        DWORD dwCutErr = 0;
        int nOk = utl_FileUnpack(host.c_str(), "cut.pak", out.c_str(), &dwCutErr, 0);
        if (bWhole) {
            EXPECT_EQ(1, nOk) << "cut at " << cut;
        } else {
            EXPECT_EQ(0, nOk) << "cut at " << cut;
            EXPECT_EQ(dwWant, dwCutErr) << "cut at " << cut;
        }
        ++nCuts;
    }
    EXPECT_GT(nCuts, 60);
    // Only the cut outputs and the host were ever made under C:\kt.
    for (const std::string& name : kt::ListFolder("C:\\kt"))
        EXPECT_TRUE(name.rfind("cut_", 0) == 0) << name;
}
