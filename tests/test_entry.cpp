// The entry's preconditions, run as a user meets them: the real Setup.exe
// under Wine, its message boxes read and confirmed through their windows.
#include <gtest/gtest.h>
#include "entry_runs.h"
#include "messages.h"
#include <algorithm>

namespace {

std::string SetupExe() { return "\"" + kt::DistPath("Setup.exe") + "\""; }

bool HasFreeSpaceLine(const std::vector<std::string>& lines)
{
    for (const std::string& l : lines)
        if (l.rfind("The C: free space is ", 0) == 0 && l.size() > 24 && l.substr(l.size() - 2) == "M.")
            return true;
    return false;
}

} // namespace

TEST(EntryInstance, SecondStartWhileTheFirstRunsIsRefused)
{
    KT_SKIP_IF_EMULATED();
    // The first setup program stops at its update box and holds the instance
    // event meanwhile; the second meets the event.
    kt::Proc renew = kt::StartNamedSleeper("RenewCusState.exe");
    kt::Proc first = kt::Start(SetupExe());
    HWND hFirstBox = kt::WaitForWindow("", 30000, first.dwPid, "#32770");
    ASSERT_NE(nullptr, hFirstBox);

    kt::Proc second = kt::Start(SetupExe());
    int nExit = -1;
    kt::Box box = kt::ReadAndConfirmBox(second, 30000, &nExit);
    ASSERT_TRUE(box.bFound);
    EXPECT_EQ(kt::kCaptionEn, box.strCaption);
    EXPECT_EQ(kt::kPrevInstanceEn, box.strText);
    EXPECT_TRUE(box.bWarningIcon);
    EXPECT_EQ(0, nExit);

    kt::PressButton(hFirstBox, IDOK);
    EXPECT_EQ(0, kt::Wait(first, 30000));
    kt::Kill(renew);
    // Only the first reached the free-space measurement.
    std::vector<std::string> lines = kt::LogMessages(kt::SetupLogText());
    EXPECT_EQ(1u, std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
                  return l.rfind("The C: free space is ", 0) == 0;
              }));
}

TEST(EntryInstance, AnEventLeftByAnyHolderRefusesTheStart)
{
    HANDLE hEvent = CreateEventA(NULL, FALSE, FALSE, "evnt_Kavla_stpDamon");
    ASSERT_NE(nullptr, hEvent);
    kt::Proc setup = kt::Start(SetupExe());
    int nExit = -1;
    kt::Box box = kt::ReadAndConfirmBox(setup, 30000, &nExit);
    CloseHandle(hEvent);
    ASSERT_TRUE(box.bFound);
    EXPECT_EQ(kt::kPrevInstanceEn, box.strText);
    EXPECT_EQ(0, nExit);
    // Refused before anything was measured or logged.
    EXPECT_TRUE(kt::LogMessages(kt::SetupLogText()).empty());
}

TEST(EntryUpdate, RunningCustomisationUpdateBlocksWhateverTheCase)
{
    KT_SKIP_IF_EMULATED();
    for (const char* name : {"renewcusstate.EXE", "RenewCusState.e"}) {
        kt::Proc renew = kt::StartNamedSleeper(name);
        kt::Proc setup = kt::Start(SetupExe());
        int nExit = -1;
        kt::Box box = kt::ReadAndConfirmBox(setup, 30000, &nExit);
        kt::Kill(renew);
        ASSERT_TRUE(box.bFound) << name;
        EXPECT_EQ(kt::kCaptionEn, box.strCaption);
        EXPECT_EQ(kt::kPrevInstanceEn, box.strText) << name;
        EXPECT_EQ(0, nExit);
    }
    std::vector<std::string> lines = kt::LogMessages(kt::SetupLogText());
    EXPECT_TRUE(HasFreeSpaceLine(lines));
    // A refusal is no orderly end after the preconditions.
    EXPECT_FALSE(kt::HasLine(lines, "Exit main"));
}

TEST(EntryFlow, UnprotectedClientGoesStraightToTheInstall)
{
    KT_SKIP_IF_EMULATED();
    // The plain program carries no payload: the driver refuses the carrier.
    // Watched while it runs: no window (no password dialog, no box) appears.
    kt::Proc setup = kt::Start(SetupExe());
    HWND hSeen = NULL;
    for (int i = 0; i < 600 && !hSeen && WaitForSingleObject(setup.hProcess, 0) == WAIT_TIMEOUT; ++i)
        hSeen = kt::WaitForWindow("", 100, setup.dwPid);
    EXPECT_EQ(nullptr, hSeen) << kt::WindowText(hSeen);
    int nExit = kt::Wait(setup, 60000);
    EXPECT_EQ(0, nExit);
    std::vector<std::string> lines = kt::LogMessages(kt::SetupLogText());
    EXPECT_TRUE(HasFreeSpaceLine(lines));
    EXPECT_FALSE(kt::HasLine(lines, "Begin UnpackAndSetup"));
    EXPECT_TRUE(kt::HasLine(lines, "install failed with Err 352."));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Exit main", lines.back());
}

TEST(EntryBoxes, EveryRefusalTextInEnglish)
{
    KT_SKIP_IF_EMULATED();
    const struct {
        UserText eText;
        const char* pszText;
    } cases[] = {
        {TXT_PREV_INSTANCE, "A previous instance is still running. \nPlease try it later."},
        {TXT_NOT_ADMIN, "You do not have administrative privileges on this computer, the program can not be installed!"},
        {TXT_NO_SPACE, "The sys disk must have at least 300M free space to finish the setup."},
        {TXT_UPDATING, "A previous instance is still running. \nPlease try it later."},
    };
    for (const auto& c : cases) {
        kt::Proc p = kt::Start("\"" + kt::TestBinPath("gui_show_refusal.exe") + "\" " + std::to_string(c.eText));
        kt::Box box = kt::ReadAndConfirmBox(p, 30000);
        ASSERT_TRUE(box.bFound) << c.eText;
        EXPECT_EQ("Kavla Setup", box.strCaption);
        EXPECT_EQ(c.pszText, box.strText);
        EXPECT_TRUE(box.bWarningIcon);
    }
}
