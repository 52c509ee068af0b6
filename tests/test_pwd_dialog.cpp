// The password dialog of a protected upgrade, used as a person uses it: the
// real Setup.exe with a payload, started on a prefix whose client is locked,
// its dialog found on screen, typed into and its buttons pressed.
#include <gtest/gtest.h>
#include "dialog_runs.h"
#include "driver_runs.h"

namespace {

const char kPassword[] = "Secret-42";
const char kTitle[] = "Uninstall Password";
const char kPrompt[] =
    "The client is protected by a password. Please input the password to proceed with the client upgrade.";
const char kRetry[] = "Wrong password. Please try again:";
const char kAbort[] =
    "You have input wrong passwords for the maximum number of times. The installation wizard is about to abort...";

class PasswordDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (kt::IsEmulated())
            return;
        kt::ProtectThroughRegistry(kt::StoredText(kPassword));
    }

    // The run ends on its own; its log and what it started are then judged.
    std::vector<std::string> Finish(kt::DialogRun& run)
    {
        EXPECT_EQ(0, kt::Wait(run.proc, 180000));
        return kt::SetupMessages();
    }

    void ExpectRetryState(HWND hDlg)
    {
        EXPECT_EQ("", kt::ControlText(hDlg, -1));
        EXPECT_EQ(kRetry, kt::ControlText(hDlg, 1002));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(hDlg, 1002)));
        EXPECT_EQ(0, SendMessageA(GetDlgItem(hDlg, 1001), WM_GETTEXTLENGTH, 0, 0));
    }
};

void ExpectInstalled(const std::vector<std::string>& lines)
{
    EXPECT_TRUE(kt::HasInOrder(lines, {"g_bExit = TRUE;", "Begin UnpackAndSetup", "Exit main"}));
    EXPECT_EQ(1u, kt::CountLine(lines, "g_bExit = TRUE;"));
    EXPECT_EQ(1u, kt::CountLine(lines, "Begin UnpackAndSetup"));
    EXPECT_FALSE(kt::HasLine(lines, "install failed with Err 0."));
    EXPECT_TRUE(kt::InstallerRan());
}

void ExpectNoInstall(const std::vector<std::string>& lines)
{
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Exit main", lines.back());
    EXPECT_FALSE(kt::HasLine(lines, "Begin UnpackAndSetup"));
    EXPECT_FALSE(kt::HasLine(lines, "g_bExit = TRUE;"));
    for (const std::string& l : lines)
        EXPECT_EQ(std::string::npos, l.find("install failed")) << l;
    EXPECT_FALSE(kt::InstallerRan());
    EXPECT_FALSE(kt::Exists(std::string(kt::kWorkDir)));
}

} // namespace

TEST_F(PasswordDialog, ShowsItsTextsCentredAndTopmost)
{
    KT_SKIP_IF_EMULATED();
    kt::DialogRun run = kt::StartAndWaitForDialog(kTitle);
    ASSERT_NE(nullptr, run.hDlg);
    EXPECT_EQ(kTitle, kt::WindowText(run.hDlg));
    EXPECT_EQ(kPrompt, kt::ControlText(run.hDlg, -1));
    EXPECT_EQ("OK", kt::ControlText(run.hDlg, IDOK));
    EXPECT_EQ("Cancel", kt::ControlText(run.hDlg, IDCANCEL));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(run.hDlg, 1002)));
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(run.hDlg, 1001), GWL_STYLE) & ES_PASSWORD);
    EXPECT_TRUE(GetWindowLongA(run.hDlg, GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT rcDesk, rc;
    GetWindowRect(GetDesktopWindow(), &rcDesk);
    GetWindowRect(run.hDlg, &rc);
    EXPECT_EQ((rcDesk.right - rcDesk.left - (rc.right - rc.left)) / 2, rc.left);
    EXPECT_EQ((rcDesk.bottom - rcDesk.top - (rc.bottom - rc.top)) / 2, rc.top);
    kt::PressButton(run.hDlg, IDCANCEL);
    Finish(run);
}

TEST_F(PasswordDialog, RightPasswordFirstTimeInstalls)
{
    KT_SKIP_IF_EMULATED();
    kt::DialogRun run = kt::StartAndWaitForDialog(kTitle);
    ASSERT_NE(nullptr, run.hDlg);
    kt::Submit(run.hDlg, kPassword);
    std::vector<std::string> lines = Finish(run);
    ExpectInstalled(lines);
    EXPECT_TRUE(kt::HasLine(kt::LogMessages(kt::UtlLogText("setup")),
                            "IsUninstallPrompt:Need prompt uninstall password Dlg"));
}

TEST_F(PasswordDialog, TwoWrongThenRightInstalls)
{
    KT_SKIP_IF_EMULATED();
    kt::DialogRun run = kt::StartAndWaitForDialog(kTitle);
    ASSERT_NE(nullptr, run.hDlg);
    kt::Submit(run.hDlg, "wrong one");
    ExpectRetryState(run.hDlg);
    // Letter case counts.
    kt::Submit(run.hDlg, "secret-42");
    ExpectRetryState(run.hDlg);
    EXPECT_TRUE(IsWindow(run.hDlg));
    kt::Submit(run.hDlg, kPassword);
    ExpectInstalled(Finish(run));
}

TEST_F(PasswordDialog, ThreeWrongAbortWithoutInstall)
{
    KT_SKIP_IF_EMULATED();
    kt::DialogRun run = kt::StartAndWaitForDialog(kTitle);
    ASSERT_NE(nullptr, run.hDlg);
    kt::Submit(run.hDlg, "a");
    kt::Submit(run.hDlg, "b");
    kt::Submit(run.hDlg, "SECRET-42");
    HWND hBox = kt::WaitForWindow("Wrong Password", 30000, run.proc.dwPid);
    ASSERT_NE(nullptr, hBox);
    EXPECT_EQ(kAbort, kt::ControlText(hBox, -1));
    EXPECT_EQ(run.hDlg, GetWindow(hBox, GW_OWNER));
    kt::PressButton(hBox, IDOK);
    ExpectNoInstall(Finish(run));
}

TEST_F(PasswordDialog, CancelAndCloseEndWithoutInstallOrBox)
{
    KT_SKIP_IF_EMULATED();
    for (int nWay = 0; nWay < 2; ++nWay) {
        kt::ResetRunState();
        kt::DialogRun run = kt::StartAndWaitForDialog(kTitle);
        ASSERT_NE(nullptr, run.hDlg);
        if (nWay == 0)
            kt::PressButton(run.hDlg, IDCANCEL);
        else
            kt::CloseBox(run.hDlg);
        EXPECT_EQ(nullptr, kt::WaitForWindow("Wrong Password", 1500, run.proc.dwPid));
        ExpectNoInstall(Finish(run));
    }
}

TEST_F(PasswordDialog, AtMostThirtyTwoCharactersCanBeTyped)
{
    KT_SKIP_IF_EMULATED();
    const std::string strLong = "abcdefghijklmnopqrstuvwxyz012345";  // 32
    kt::ProtectThroughRegistry(kt::StoredText(strLong));
    kt::DialogRun run = kt::StartAndWaitForDialog(kTitle);
    ASSERT_NE(nullptr, run.hDlg);
    kt::TypeText(run.hDlg, 1001, strLong + "6");
    EXPECT_EQ(32, SendMessageA(GetDlgItem(run.hDlg, 1001), WM_GETTEXTLENGTH, 0, 0));
    // The 33rd character was never taken: the 32 match.
    kt::PressButton(run.hDlg, IDOK);
    ExpectInstalled(Finish(run));
}

TEST_F(PasswordDialog, EmptyStoredPasswordAcceptsNothing)
{
    KT_SKIP_IF_EMULATED();
    kt::ProtectThroughRegistry("");
    kt::DialogRun run = kt::StartAndWaitForDialog(kTitle);
    ASSERT_NE(nullptr, run.hDlg);
    kt::Submit(run.hDlg, "");
    ExpectRetryState(run.hDlg);
    kt::Submit(run.hDlg, kPassword);
    kt::Submit(run.hDlg, " ");
    HWND hBox = kt::WaitForWindow("Wrong Password", 30000, run.proc.dwPid);
    ASSERT_NE(nullptr, hBox);
    kt::PressButton(hBox, IDOK);
    ExpectNoInstall(Finish(run));
}

TEST_F(PasswordDialog, NoLogHoldsThePasswordInAnyForm)
{
    KT_SKIP_IF_EMULATED();
    kt::DialogRun run = kt::StartAndWaitForDialog(kTitle);
    ASSERT_NE(nullptr, run.hDlg);
    kt::Submit(run.hDlg, "Typed-Wrong-7");
    kt::Submit(run.hDlg, kPassword);
    ExpectInstalled(Finish(run));
    std::string logs = kt::AllLogBytes();
    ASSERT_FALSE(logs.empty());
    for (const std::string& secret : {std::string(kPassword), kt::StoredText(kPassword),
                                      std::string("Typed-Wrong-7"), kt::StoredText("Typed-Wrong-7")})
        EXPECT_EQ(std::string::npos, logs.find(secret)) << secret;
}

// A double click or a double Enter on OK: the second press reaches the
// dialog after it has ended and must change nothing.
TEST_F(PasswordDialog, SecondOkPressAfterTheEndChangesNothing)
{
    KT_SKIP_IF_EMULATED();
    kt::DialogRun run = kt::StartAndWaitForDialog(kTitle);
    ASSERT_NE(nullptr, run.hDlg);
    kt::TypeText(run.hDlg, 1001, kPassword);
    kt::PressButton(run.hDlg, IDOK);
    kt::PressButton(run.hDlg, IDOK);
    ExpectInstalled(Finish(run));

    kt::ResetRunState();
    run = kt::StartAndWaitForDialog(kTitle);
    ASSERT_NE(nullptr, run.hDlg);
    kt::Submit(run.hDlg, "a");
    kt::Submit(run.hDlg, "b");
    kt::TypeText(run.hDlg, 1001, "c");
    kt::PressButton(run.hDlg, IDOK);
    kt::PressButton(run.hDlg, IDOK);
    HWND hBox = kt::WaitForWindow("Wrong Password", 30000, run.proc.dwPid);
    ASSERT_NE(nullptr, hBox);
    kt::PressButton(hBox, IDOK);
    Sleep(500);
    EXPECT_EQ(nullptr, kt::WaitForWindow("Wrong Password", 1500, run.proc.dwPid)) << "one abort box only";
    ExpectNoInstall(Finish(run));
}
