// kavlapwd as administrators run it: a process whose standard input is a
// file or a pipe, never the command line.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "pwdtool_runs.h"

namespace {

using kt::RunPwdTool;
using kt::ToolRun;

// Made with OpenSSL (des-ecb, key "mervo273") and base64.
const char* const kSecretText = "Vb+8578weTjEf776NzaATw==";  // "Secret#1"

} // namespace

TEST(KavlaPwdEncrypt, PrintsTheStoredText)
{
    ToolRun run = RunPwdTool("encrypt", "Secret#1\r\n");
    EXPECT_EQ(0, run.nExit) << run.strErr;
    EXPECT_EQ(std::string(kSecretText) + "\n", run.strOut);
}

TEST(KavlaPwdEncrypt, LineEndsAndLengths)
{
    KT_SKIP_IF_EMULATED();
    struct { std::string strInput; int nExit; std::string strOut; } const aCase[] = {
        {"Secret#1", 0, std::string(kSecretText) + "\n"},              // no line end at all
        {"Secret#1\nsecond line\n", 0, std::string(kSecretText) + "\n"}, // only the first line
        {"\xc4\xe3\xba\xc3\n", 0, "8EZNoSA5Gmc=\n"},                   // ANSI bytes as they come
        // The password dialog takes 32 characters: a longer password could
        // be stored but never typed.
        {std::string(32, 'x') + "\n", 0, "hktmF1Eyl76GS2YXUTKXvoZLZhdRMpe+hktmF1Eyl77Ef776NzaATw==\n"},
        {std::string(33, 'x') + "\n", 1, ""},
        {std::string(87, 'x') + "\n", 1, ""},
        {std::string(10000, 'x'), 1, ""},
        // Control characters cannot be typed into it either.
        {"ab\tc\n", 1, ""},
        {"abc\x7f\n", 1, ""},
        {"abc\r\r\n", 1, ""},
        {std::string("ab\0c\n", 5), 1, ""},
        {"\n", 1, ""},
        {"", 1, ""},
    };
    for (const auto& c : aCase) {
        ToolRun run = RunPwdTool("encrypt", c.strInput);
        EXPECT_EQ(c.nExit, run.nExit) << c.strInput.substr(0, 20);
        EXPECT_EQ(c.strOut, run.strOut) << c.strInput.substr(0, 20);
        if (c.nExit != 0) {
            EXPECT_NE(std::string::npos, run.strErr.find("kavlapwd: the password")) << run.strErr;
        }
    }
    ToolRun run = RunPwdTool("encrypt", std::string(33, 'x'));
    EXPECT_EQ("kavlapwd: the password is 33 characters; the password dialog takes at most 32\n", run.strErr);
    run = RunPwdTool("encrypt", "ab\tc");
    EXPECT_EQ("kavlapwd: the password holds a control character, which the password dialog cannot take\n",
              run.strErr);
}

TEST(KavlaPwdEncrypt, ReadsFromAPipe)
{
    KT_SKIP_IF_EMULATED();
    ToolRun run = RunPwdTool("encrypt", "abc\n", true);
    EXPECT_EQ(0, run.nExit) << run.strErr;
    EXPECT_EQ("M26MqW+1/1s=\n", run.strOut);
    run = RunPwdTool("check M26MqW+1/1s=", "abc", true);
    EXPECT_EQ(0, run.nExit);
}

TEST(KavlaPwdCheck, DecryptsAndCompares)
{
    KT_SKIP_IF_EMULATED();
    struct { const char* pszArgs; std::string strInput; int nExit; const char* pszOut; } const aCase[] = {
        {"check Vb+8578weTjEf776NzaATw==", "Secret#1\n", 0, "decrypts: yes (8 bytes)\nmatches: yes\n"},
        {"check Vb+8578weTjEf776NzaATw==", "secret#1\n", 1, "decrypts: yes (8 bytes)\nmatches: no\n"},
        {"check Vb+8578weTjEf776NzaATw==", "Secret#1 \n", 1, "decrypts: yes (8 bytes)\nmatches: no\n"},
        {"check Vb+8578weTjEf776NzaATw=", "Secret#1\n", 1,
         "decrypts: no (not Base64 in groups of four characters)\n"},
        {"check QUJD", "abc\n", 1, "decrypts: no (not a whole number of DES blocks, or damaged padding)\n"},
        {"check xH+++jc2gE8=", "x\n", 1, "decrypts: no (the password is empty or holds a zero byte)\n"},
        {"check NfFZU+mkS3E=", "ab\n", 1, "decrypts: no (the password is empty or holds a zero byte)\n"},
        {"decrypt-check Vb+8578weTjEf776NzaATw==", "", 0, "decrypts: yes (8 bytes)\n"},
        {"decrypt-check not*base64", "", 1, "decrypts: no (not Base64 in groups of four characters)\n"},
        // Texts that decrypt, but to passwords the dialog cannot take.
        {"decrypt-check hktmF1Eyl76GS2YXUTKXvoZLZhdRMpe+hktmF1Eyl77Ef776NzaATw==", "", 0,
         "decrypts: yes (32 bytes)\n"},
        {"decrypt-check hktmF1Eyl76GS2YXUTKXvoZLZhdRMpe+hktmF1Eyl74xvSrsy8wXDg==", "", 1,
         "decrypts: no (the password is 33 characters; the password dialog takes at most 32)\n"},
        {"decrypt-check hktmF1Eyl76GS2YXUTKXvoZLZhdRMpe+hktmF1Eyl76GS2YXUTKXvoZLZhdRMpe+hktmF1Eyl76GS2YXUTKXvoZL"
         "ZhdRMpe+hktmF1Eyl76NeF914q323w==", "", 1,
         "decrypts: no (the password is 87 characters; the password dialog takes at most 32)\n"},
        {"decrypt-check aAsK0TkoKkg=", "", 1,
         "decrypts: no (the password holds a control character, which the password dialog cannot take)\n"},
        {"check cGfXC4PSKmI=", "abc\n", 1,
         "decrypts: no (the password holds a control character, which the password dialog cannot take)\n"},
        // A typed password the dialog cannot take is refused before the text is read.
        {"check hktmF1Eyl76GS2YXUTKXvoZLZhdRMpe+hktmF1Eyl74xvSrsy8wXDg==", std::string(33, 'x') + "\n", 1, ""},
    };
    for (const auto& c : aCase) {
        ToolRun run = RunPwdTool(c.pszArgs, c.strInput);
        EXPECT_EQ(c.nExit, run.nExit) << c.pszArgs;
        EXPECT_EQ(c.pszOut, run.strOut) << c.pszArgs;
        // The password itself is never printed.
        EXPECT_EQ(std::string::npos, run.strOut.find("Secret#1")) << c.pszArgs;
    }
}

// A text that decrypts to the password but is not the one the tool makes is
// flagged, because the uninstall-information document is compared as stored
// text; a text longer than the readers take is refused.
TEST(KavlaPwdCheck, FlagsTextsThatAreNotCanonical)
{
    KT_SKIP_IF_EMULATED();
    // 144 characters of stored text are more than the setup program reads.
    std::string strLong;
    for (int i = 0; i < 6; ++i)
        strLong += "hktmF1Eyl76GS2YXUTKXvoZL";
    ToolRun run = RunPwdTool("decrypt-check " + strLong, "");
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("decrypts: no (144 characters; the setup program reads only the first 128)\n", run.strOut);

    // "x" instead of "w" differs only in bits the last group drops.
    run = RunPwdTool("check Vb+8578weTjEf776NzaATx==", "Secret#1\n");
    EXPECT_EQ(0, run.nExit);
    EXPECT_EQ("decrypts: yes (8 bytes)\nmatches: yes\nnote: not the text \"kavlapwd encrypt\" makes; "
              "KavlaUninstallInfo.xml needs Vb+8578weTjEf776NzaATw==\n",
              run.strOut);
    run = RunPwdTool("check Vb+8578weTjEf776NzaATw==", "Secret#1\n");
    EXPECT_EQ(std::string::npos, run.strOut.find("note:"));
}

TEST(KavlaPwdUsage, WrongCommandLines)
{
    KT_SKIP_IF_EMULATED();
    const char* const apszArgs[] = {"", "encrypt extra", "check", "decrypt-check", "decrypt x", "Secret#1",
                                    "check a b"};
    for (const char* pszArgs : apszArgs) {
        ToolRun run = RunPwdTool(pszArgs, "Secret#1\n");
        EXPECT_EQ(2, run.nExit) << pszArgs;
        EXPECT_EQ("", run.strOut) << pszArgs;
        EXPECT_EQ(0u, run.strErr.find("usage:")) << pszArgs;
    }
}
