// The entry's message boxes on a Simplified Chinese system (language 2052,
// code page 936): every text compared as GBK bytes.
#include <gtest/gtest.h>
#include "entry_runs.h"
#include "messages.h"
#include "file.h"

namespace {

// GBK bytes of the Chinese texts.
const char kCaption[] = "\xb0\xb2\xd7\xb0" "Kavla" "\xd6\xc7\xc4\xdc\xbf\xcd\xbb\xa7\xb6\xcb";  // 安装Kavla智能客户端
const char kPrevInstance[] =  // 有正在运行的客户端安装程序，请稍候再试。
    "\xd3\xd0\xd5\xfd\xd4\xda\xd4\xcb\xd0\xd0\xb5\xc4\xbf\xcd\xbb\xa7\xb6\xcb\xb0\xb2\xd7\xb0\xb3\xcc\xd0\xf2"
    "\xa3\xac\xc7\xeb\xc9\xd4\xba\xf2\xd4\xd9\xca\xd4\xa1\xa3";
const char kNotAdmin[] =  // 您没有管理员权限，无法进行安装操作！
    "\xc4\xfa\xc3\xbb\xd3\xd0\xb9\xdc\xc0\xed\xd4\xb1\xc8\xa8\xcf\xde\xa3\xac\xce\xde\xb7\xa8\xbd\xf8\xd0\xd0"
    "\xb0\xb2\xd7\xb0\xb2\xd9\xd7\xf7\xa3\xa1";
const char kNoSpace[] =  // 系统盘空间不足，安装要求系统盘必须有300M以上的空间。
    "\xcf\xb5\xcd\xb3\xc5\xcc\xbf\xd5\xbc\xe4\xb2\xbb\xd7\xe3\xa3\xac\xb0\xb2\xd7\xb0\xd2\xaa\xc7\xf3\xcf\xb5"
    "\xcd\xb3\xc5\xcc\xb1\xd8\xd0\xeb\xd3\xd0" "300M" "\xd2\xd4\xc9\xcf\xb5\xc4\xbf\xd5\xbc\xe4\xa1\xa3";
const char kUpdating[] =  // 客户端正在升级定制信息，请稍后再试。
    "\xbf\xcd\xbb\xa7\xb6\xcb\xd5\xfd\xd4\xda\xc9\xfd\xbc\xb6\xb6\xa8\xd6\xc6\xd0\xc5\xcf\xa2\xa3\xac\xc7\xeb"
    "\xc9\xd4\xba\xf3\xd4\xd9\xca\xd4\xa1\xa3";

} // namespace

TEST(EntryBoxesZh, TheSystemIsChinese)
{
    EXPECT_EQ(2052, GetSystemDefaultLangID());
    EXPECT_EQ(936u, GetACP());
    EXPECT_EQ(1, IsChineseSystem());
}

const struct {
    UserText eText;
    const char* pszText;
} kRefusals[] = {{TXT_PREV_INSTANCE, kPrevInstance}, {TXT_NOT_ADMIN, kNotAdmin},
                 {TXT_NO_SPACE, kNoSpace}, {TXT_UPDATING, kUpdating}};

TEST(EntryBoxesZh, TextsAreTheGbkBytes)
{
    for (const auto& c : kRefusals)
        EXPECT_EQ(std::string(c.pszText), GetUserText(c.eText)) << c.eText;
    EXPECT_EQ(std::string(kCaption), GetUserText(TXT_CAPTION));
}

TEST(EntryBoxesZh, EveryRefusalBoxInChinese)
{
    KT_SKIP_IF_EMULATED();
    for (const auto& c : kRefusals) {
        kt::Proc p = kt::Start("\"" + kt::TestBinPath("gui_show_refusal.exe") + "\" " + std::to_string(c.eText));
        kt::Box box = kt::ReadAndConfirmBox(p, 30000);
        ASSERT_TRUE(box.bFound) << c.eText;
        EXPECT_EQ(std::string(kCaption), box.strCaption);
        EXPECT_EQ(std::string(c.pszText), box.strText) << c.eText;
    }
}

TEST(EntryBoxesZh, RealRefusalsOfTheProgramAreChinese)
{
    KT_SKIP_IF_EMULATED();
    kt::Proc renew = kt::StartNamedSleeper("RenewCusState.exe");
    kt::Proc setup = kt::Start("\"" + kt::DistPath("Setup.exe") + "\"");
    kt::Box box = kt::ReadAndConfirmBox(setup, 30000);
    kt::Kill(renew);
    ASSERT_TRUE(box.bFound);
    EXPECT_EQ(std::string(kCaption), box.strCaption);
    EXPECT_EQ(std::string(kUpdating), box.strText);

    HANDLE hEvent = CreateEventA(NULL, FALSE, FALSE, "evnt_Kavla_stpDamon");
    kt::Proc second = kt::Start("\"" + kt::DistPath("Setup.exe") + "\"");
    box = kt::ReadAndConfirmBox(second, 30000);
    CloseHandle(hEvent);
    ASSERT_TRUE(box.bFound);
    EXPECT_EQ(std::string(kPrevInstance), box.strText);
}

// Names from outside are judged in the system's code page: a lead byte
// without its trail byte would make Windows create the file under another name.
TEST(PlainFileNameZh, IncompleteDoubleByteCharacterIsRefused)
{
    EXPECT_TRUE(utl_IsPlainFileName("\xc4\xe3\xba\xc3.txt"));  // 你好.txt
    EXPECT_FALSE(utl_IsPlainFileName("readme.txt\x81"));
    EXPECT_FALSE(utl_IsPlainFileName("\xc4"));
}
