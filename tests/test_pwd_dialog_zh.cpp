// The password dialog on a Simplified Chinese system (language 2052, code
// page 936): every text the user reads compared as GBK bytes.
#include <gtest/gtest.h>
#include "dialog_runs.h"
#include "driver_runs.h"

namespace {

const char kTitle[] = "\xd0\xb6\xd4\xd8\xc3\xdc\xc2\xeb";  // 卸载密码
const char kPrompt[] = "\xd2\xd1\xb0\xb2\xd7\xb0\xb5\xc4\xbf\xcd\xbb\xa7\xb6\xcb\xca\xdc\xc3\xdc\xc2\xeb\xb1\xa3\xbb\xa4\xa3\xac\xd0\xe8\xd2\xaa\xca\xe4\xc8\xeb\xd0\xb6\xd4\xd8\xc3\xdc\xc2\xeb\xb2\xc5\xc4\xdc\xbd\xf8\xd0\xd0\xc9\xfd\xbc\xb6\xa1\xa3\xc7\xeb\xca\xe4\xc8\xeb\xc3\xdc\xc2\xeb\xa3\xba";  // 已安装的客户端受密码保护，需要输入卸载密码才能进行升级。请输入密码：
const char kOk[] = "\xc8\xb7\xb6\xa8";  // 确定
const char kCancel[] = "\xc8\xa1\xcf\xfb";  // 取消
const char kRetry[] = "\xc3\xdc\xc2\xeb\xb4\xed\xce\xf3\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xca\xe4\xc8\xeb\xa3\xba";  // 密码错误，请重新输入：
const char kAbort[] = "\xb3\xac\xb9\xfd\xd7\xee\xb4\xf3\xc3\xdc\xc2\xeb\xb4\xed\xce\xf3\xd6\xd8\xca\xd4\xb4\xce\xca\xfd\xa3\xac\xb0\xb2\xd7\xb0\xb3\xcc\xd0\xf2\xbc\xb4\xbd\xab\xcd\xcb\xb3\xf6\xa1\xa3";  // 超过最大密码错误重试次数，安装程序即将退出。
const char kAbortCaption[] = "\xc3\xdc\xc2\xeb\xb4\xed\xce\xf3";  // 密码错误

} // namespace

TEST(PasswordDialogZh, EveryTextInChinese)
{
    KT_SKIP_IF_EMULATED();
    ASSERT_EQ(2052, GetSystemDefaultLangID());
    kt::ProtectThroughRegistry(kt::StoredText("pw"));
    kt::DialogRun run = kt::StartAndWaitForDialog(kTitle);
    ASSERT_NE(nullptr, run.hDlg);
    EXPECT_EQ(std::string(kTitle), kt::WindowText(run.hDlg));
    EXPECT_EQ(std::string(kPrompt), kt::ControlText(run.hDlg, -1));
    EXPECT_EQ(std::string(kOk), kt::ControlText(run.hDlg, IDOK));
    EXPECT_EQ(std::string(kCancel), kt::ControlText(run.hDlg, IDCANCEL));

    kt::Submit(run.hDlg, "x");
    EXPECT_EQ(std::string(kRetry), kt::ControlText(run.hDlg, 1002));
    EXPECT_EQ("", kt::ControlText(run.hDlg, -1));
    kt::Submit(run.hDlg, "y");
    kt::Submit(run.hDlg, "z");
    HWND hBox = kt::WaitForWindow(kAbortCaption, 30000, run.proc.dwPid);
    ASSERT_NE(nullptr, hBox);
    EXPECT_EQ(std::string(kAbort), kt::ControlText(hBox, -1));
    kt::PressButton(hBox, IDOK);
    EXPECT_EQ(0, kt::Wait(run.proc, 60000));
    std::vector<std::string> lines = kt::SetupMessages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Exit main", lines.back());
    EXPECT_FALSE(kt::InstallerRan());
}

TEST(PasswordDialogZh, ThirtyTwoChineseCharactersMatchWhole)
{
    KT_SKIP_IF_EMULATED();
    ASSERT_EQ(2052, GetSystemDefaultLangID());
    // 32 characters, 64 bytes in code page 936: the dialog's whole limit.
    std::string strPassword;
    for (int i = 0; i < 8; ++i)
        strPassword += "\xd0\xb6\xd4\xd8\xc3\xdc\xc2\xeb";  // 卸载密码
    kt::ProtectThroughRegistry(kt::StoredText(strPassword));
    kt::DialogRun run = kt::StartAndWaitForDialog(kTitle);
    ASSERT_NE(nullptr, run.hDlg);
    kt::TypeText(run.hDlg, 1001, strPassword);
    ASSERT_EQ(strPassword, kt::ControlText(run.hDlg, 1001));
    kt::PressButton(run.hDlg, IDOK);
    EXPECT_EQ(0, kt::Wait(run.proc, 180000));
    std::vector<std::string> lines = kt::SetupMessages();
    EXPECT_TRUE(kt::HasInOrder(lines, {"g_bExit = TRUE;", "Begin UnpackAndSetup", "Exit main"}));
    EXPECT_TRUE(kt::InstallerRan());
}
