// kavlapwd on a Simplified Chinese system (code page 936): the password
// dialog's limit counts characters, and a Chinese character takes two bytes.
#include <gtest/gtest.h>
#include <string>
#include "pwdtool_runs.h"

namespace {

using kt::RunPwdTool;
using kt::ToolRun;

std::string ThirtyTwoChinese()
{
    std::string str;
    for (int i = 0; i < 8; ++i)
        str += "\xd0\xb6\xd4\xd8\xc3\xdc\xc2\xeb";  // 卸载密码
    return str;
}

// Made with OpenSSL (des-ecb, key "mervo273") and base64 from the GBK bytes.
const char kText32[] =
    "mwYHM7au+VibBgcztq75WJsGBzO2rvlYmwYHM7au+VibBgcztq75WJsGBzO2rvlYmwYHM7au+VibBgcztq75WMR/vvo3NoBP";
const char kText33[] =
    "mwYHM7au+VibBgcztq75WJsGBzO2rvlYmwYHM7au+VibBgcztq75WJsGBzO2rvlYmwYHM7au+VibBgcztq75WHnWKJTBr5dl";

} // namespace

TEST(KavlaPwdZh, ThirtyTwoCharactersOfTwoBytesAreTheLimit)
{
    KT_SKIP_IF_EMULATED();
    ASSERT_EQ(936u, GetACP());
    const std::string str32 = ThirtyTwoChinese();
    ASSERT_EQ(64u, str32.size());
    ToolRun run = RunPwdTool("encrypt", str32 + "\n");
    EXPECT_EQ(0, run.nExit) << run.strErr;
    EXPECT_EQ(std::string(kText32) + "\n", run.strOut);
    run = RunPwdTool(std::string("check ") + kText32, str32 + "\n");
    EXPECT_EQ(0, run.nExit) << run.strErr;
    EXPECT_EQ("decrypts: yes (64 bytes)\nmatches: yes\n", run.strOut);

    // 33 characters are 66 bytes, few enough to store, too many to type.
    run = RunPwdTool("encrypt", str32 + "\xd0\xb6\n");
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("", run.strOut);
    EXPECT_EQ("kavlapwd: the password is 33 characters; the password dialog takes at most 32\n", run.strErr);
    run = RunPwdTool(std::string("decrypt-check ") + kText33, "");
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("decrypts: no (the password is 33 characters; the password dialog takes at most 32)\n", run.strOut);

    // A lead byte without its second byte is no character the dialog can hand over.
    run = RunPwdTool("encrypt", "\xd0\n");
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("", run.strOut);
    EXPECT_EQ("kavlapwd: the password is not text in code page 936, which the password dialog uses\n", run.strErr);
}
