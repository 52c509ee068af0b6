// kavlapwd as administrators run it: a process whose standard input is a
// file or a pipe, never the command line.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "testutil.h"

namespace {

struct ToolRun {
    int nExit = -1;
    std::string strOut, strErr;
};

void CloseH(HANDLE* ph)
{
    if (*ph && *ph != INVALID_HANDLE_VALUE)
        CloseHandle(*ph);
    *ph = NULL;
}

HANDLE OpenInheritable(const std::string& strPath, bool bWrite)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    return CreateFileA(strPath.c_str(), bWrite ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &sa, bWrite ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

std::string WithoutCr(const std::string& str)
{
    std::string strOut;
    for (char c : str) {
        if (c != '\r')
            strOut += c;
    }
    return strOut;
}

// Runs kavlapwd with the arguments; stdin from a file holding strInput, or
// from a pipe the test writes strInput into when bPipe is set.
ToolRun RunTool(const std::string& strArgs, const std::string& strInput, bool bPipe = false)
{
    ToolRun run;
    const std::string strDir = kt::NewTempFolder("pwdtool");
    HANDLE hIn = NULL, hInWrite = NULL, hOut = NULL, hErr = NULL;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    if (bPipe) {
        CreatePipe(&hIn, &hInWrite, &sa, 0);
        SetHandleInformation(hInWrite, HANDLE_FLAG_INHERIT, 0);
    } else {
        kt::WriteBytes(strDir + "\\in.txt", strInput);
        hIn = OpenInheritable(strDir + "\\in.txt", false);
    }
    hOut = OpenInheritable(strDir + "\\out.txt", true);
    hErr = OpenInheritable(strDir + "\\err.txt", true);

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = hIn;
    si.hStdOutput = hOut;
    si.hStdError = hErr;
    PROCESS_INFORMATION pi = {};
    std::string strCmd = "\"" + kt::DistPath("kavlapwd.exe") + "\" " + strArgs;
    if (CreateProcessA(NULL, &strCmd[0], NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &si, &pi)) {
        if (bPipe) {
            DWORD dwWritten = 0;
            WriteFile(hInWrite, strInput.data(), (DWORD)strInput.size(), &dwWritten, NULL);
            CloseH(&hInWrite);
        }
        if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) {
            DWORD dwExit = 0;
            GetExitCodeProcess(pi.hProcess, &dwExit);
            run.nExit = (int)dwExit;
        } else {
            TerminateProcess(pi.hProcess, 99);
        }
        CloseH(&pi.hProcess);
        CloseH(&pi.hThread);
    }
    CloseH(&hInWrite);
    CloseH(&hIn);
    CloseH(&hOut);
    CloseH(&hErr);
    run.strOut = WithoutCr(kt::ReadBytes(strDir + "\\out.txt"));
    run.strErr = WithoutCr(kt::ReadBytes(strDir + "\\err.txt"));
    return run;
}

// Made with OpenSSL (des-ecb, key "mervo273") and base64.
const char* const kSecretText = "Vb+8578weTjEf776NzaATw==";  // "Secret#1"

} // namespace

TEST(KavlaPwdEncrypt, PrintsTheStoredText)
{
    ToolRun run = RunTool("encrypt", "Secret#1\r\n");
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
        {std::string(87, 'x') + "\n", 0,
         "hktmF1Eyl76GS2YXUTKXvoZLZhdRMpe+hktmF1Eyl76GS2YXUTKXvoZLZhdRMpe+hktmF1Eyl76GS2YXUTKXvoZL"
         "ZhdRMpe+hktmF1Eyl76NeF914q323w==\n"},
        {std::string(88, 'x') + "\n", 1, ""},
        {std::string(10000, 'x'), 1, ""},
        {"\n", 1, ""},
        {"", 1, ""},
    };
    for (const auto& c : aCase) {
        ToolRun run = RunTool("encrypt", c.strInput);
        EXPECT_EQ(c.nExit, run.nExit) << c.strInput.substr(0, 20);
        EXPECT_EQ(c.strOut, run.strOut) << c.strInput.substr(0, 20);
        if (c.nExit != 0) {
            EXPECT_NE(std::string::npos, run.strErr.find("kavlapwd: the password")) << run.strErr;
        }
    }
    ToolRun run = RunTool("encrypt", std::string(88, 'x'));
    EXPECT_EQ("kavlapwd: the password is 88 bytes; at most 87 bytes can be stored\n", run.strErr);
}

TEST(KavlaPwdEncrypt, ReadsFromAPipe)
{
    KT_SKIP_IF_EMULATED();
    ToolRun run = RunTool("encrypt", "abc\n", true);
    EXPECT_EQ(0, run.nExit) << run.strErr;
    EXPECT_EQ("M26MqW+1/1s=\n", run.strOut);
    run = RunTool("check M26MqW+1/1s=", "abc", true);
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
    };
    for (const auto& c : aCase) {
        ToolRun run = RunTool(c.pszArgs, c.strInput);
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
    ToolRun run = RunTool("decrypt-check " + strLong, "");
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("decrypts: no (144 characters; the setup program reads only the first 128)\n", run.strOut);

    // "x" instead of "w" differs only in bits the last group drops.
    run = RunTool("check Vb+8578weTjEf776NzaATx==", "Secret#1\n");
    EXPECT_EQ(0, run.nExit);
    EXPECT_EQ("decrypts: yes (8 bytes)\nmatches: yes\nnote: not the text \"kavlapwd encrypt\" makes; "
              "KavlaUninstallInfo.xml needs Vb+8578weTjEf776NzaATw==\n",
              run.strOut);
    run = RunTool("check Vb+8578weTjEf776NzaATw==", "Secret#1\n");
    EXPECT_EQ(std::string::npos, run.strOut.find("note:"));
}

TEST(KavlaPwdUsage, WrongCommandLines)
{
    KT_SKIP_IF_EMULATED();
    const char* const apszArgs[] = {"", "encrypt extra", "check", "decrypt-check", "decrypt x", "Secret#1",
                                    "check a b"};
    for (const char* pszArgs : apszArgs) {
        ToolRun run = RunTool(pszArgs, "Secret#1\n");
        EXPECT_EQ(2, run.nExit) << pszArgs;
        EXPECT_EQ("", run.strOut) << pszArgs;
        EXPECT_EQ(0u, run.strErr.find("usage:")) << pszArgs;
    }
}
