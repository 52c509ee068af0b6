// kavlapwd: the administrators' tool for the stored form of the uninstall
// password: makes it, and checks a stored text against a password.
//
// The stored text goes into KavlaCustom.xml (uninstallPassword) or
// KavlaUninstallInfo.xml (uninstallPass).
//
//   kavlapwd encrypt                     password on stdin -> stored text on stdout
//   kavlapwd check <stored-text>         password on stdin: does the text decrypt, to it?
//   kavlapwd decrypt-check <stored-text> does the text decrypt at all?
//
// The password is read from standard input (one line, the line end not
// included) so that it never shows in the process list; on a console the
// typing is not echoed. Its bytes are taken as they come, which on a console
// is the ANSI code page the setup program's password dialog uses too.
// A password the dialog cannot produce is refused, and a stored text of one
// counts as not decrypting: no one could ever type it.
//
// Exit codes: 0 done / decrypts (and matches); 1 refused, does not decrypt or
// does not match; 2 wrong command line.
#include "cipher.h"
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <string>

namespace {

const int kExitOk = 0, kExitFail = 1, kExitUsage = 2;
// With the 128-byte buffers of the setup program, 87 plain bytes are the most
// a stored text can hold; the readers take at most 128 bytes of stored text.
const DWORD kMaxPassword = 87;
// The dialog's edit control takes 32 characters, however many bytes they
// are in the ANSI code page (up to 64 in code page 936).
const int kMaxDialogChars = 32;
const size_t kMaxStoredText = 128;
const size_t kMaxLine = 4096;

const char kUsage[] =
    "usage:\n"
    "  kavlapwd encrypt                      reads the password from stdin, prints its stored text\n"
    "  kavlapwd check <stored-text>          reads a password from stdin, tells whether the text\n"
    "                                        decrypts and whether it decrypts to that password\n"
    "  kavlapwd decrypt-check <stored-text>  tells whether the text decrypts\n"
    "The password is one line of at most 32 characters, as many as the password dialog takes;\n"
    "it is never taken from the command line.\n"
    "exit codes: 0 ok, 1 refused / does not decrypt / does not match, 2 usage\n";

const char* CipherText(int nCode)
{
    switch (nCode) {
    case CIPHER_ERR_KEY: return "the key schedule cannot be set up";
    case CIPHER_ERR_OUTPUT: return "the output does not fit";
    case CIPHER_ERR_CIPHER: return "the cipher failed";
    case CIPHER_ERR_MEMORY: return "the text is empty";
    case CIPHER_ERR_BASE64: return "not Base64 in groups of four characters";
    case CIPHER_ERR_LENGTH: return "not a whole number of DES blocks, or damaged padding";
    default: return "unknown error";
    }
}

// Reads one line from stdin without echo on a console; false when the line is
// longer than kMaxLine (the rest is not read) or stdin cannot be read.
bool ReadPasswordLine(std::string& strLine)
{
    bool bOk = true;
    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    DWORD dwMode = 0;
    const bool bConsole = hIn != INVALID_HANDLE_VALUE && GetConsoleMode(hIn, &dwMode);
    strLine.clear();
    if (bConsole) {
        fputs("Password: ", stderr);
        SetConsoleMode(hIn, dwMode & ~ENABLE_ECHO_INPUT);
    }
    bool bEnd = false;
    while (bOk && !bEnd) {
        char c = 0;
        DWORD dwRead = 0;
        if (!ReadFile(hIn, &c, 1, &dwRead, NULL) || dwRead == 0) {
            // End of input (or a closed pipe) ends the line.
            bEnd = true;
        } else if (c == '\n') {
            bEnd = true;
        } else if (strLine.size() >= kMaxLine) {
            bOk = false;
        } else {
            strLine += c;
        }
    }
    if (!strLine.empty() && strLine.back() == '\r')
        strLine.pop_back();
    if (bConsole) {
        SetConsoleMode(hIn, dwMode);
        fputs("\n", stderr);
    }
    return bOk;
}

// 1 when the password dialog can produce these bytes; otherwise 0 and the
// reason in pszWhy. The dialog hands over what its edit control holds, in
// the ANSI code page: whole characters, at most 32, and none below a space
// or DEL (the control drops those when typed; Tab, Enter and Esc go to the
// dialog). The byte limit matters only in a code page of three-byte
// characters (UTF-8).
int IsTypable(const char* pcText, DWORD dwLen, char* pszWhy, size_t nWhySize)
{
    WCHAR awcText[kMaxLine];
    int nChars = 0, nOk = 0;
    if (dwLen <= kMaxLine)
        nChars = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pcText, (int)dwLen, awcText, (int)kMaxLine);
    bool bControl = false;
    for (int i = 0; i < nChars; ++i)
        bControl = bControl || awcText[i] < L' ' || awcText[i] == 0x7F;
    if (nChars <= 0)
        snprintf(pszWhy, nWhySize, "the password is not text in code page %u, which the password dialog uses",
                 (unsigned)GetACP());
    else if (nChars > kMaxDialogChars)
        snprintf(pszWhy, nWhySize, "the password is %d characters; the password dialog takes at most %d", nChars,
                 kMaxDialogChars);
    else if (bControl)
        snprintf(pszWhy, nWhySize, "the password holds a control character, which the password dialog cannot take");
    else if (dwLen > kMaxPassword)
        snprintf(pszWhy, nWhySize, "the password is %u bytes; at most %u bytes can be stored", (unsigned)dwLen,
                 (unsigned)kMaxPassword);
    else
        nOk = 1;
    SecureZeroMemory(awcText, sizeof(awcText));
    return nOk;
}

void Forget(std::string& str)
{
    if (!str.empty())
        SecureZeroMemory(&str[0], str.size());
    str.clear();
}

// Reads the password and checks that the dialog can take it; prints the
// reason when refused.
bool GetPassword(std::string& strPassword)
{
    char szWhy[160] = {0};
    bool bOk = ReadPasswordLine(strPassword);
    if (!bOk)
        fprintf(stderr, "kavlapwd: the password line is too long\n");
    else if (strPassword.empty())
        fprintf(stderr, "kavlapwd: the password is empty\n");
    else if (!IsTypable(strPassword.data(), (DWORD)strPassword.size(), szWhy, sizeof(szWhy)))
        fprintf(stderr, "kavlapwd: %s\n", szWhy);
    bOk = bOk && !strPassword.empty() && !szWhy[0];
    if (!bOk)
        Forget(strPassword);
    return bOk;
}

int Encrypt()
{
    int nExit = kExitFail;
    std::string strPassword;
    if (GetPassword(strPassword)) {
        char szText[128];
        const int nRet = EncryptPassword(szText, sizeof(szText), (const BYTE*)strPassword.data(),
                                         (DWORD)strPassword.size());
        if (nRet == CIPHER_OK) {
            printf("%s\n", szText);
            nExit = kExitOk;
        } else {
            fprintf(stderr, "kavlapwd: encryption failed: %s\n", CipherText(nRet));
        }
    }
    Forget(strPassword);
    return nExit;
}

// Decrypts the way the customisation reader does: into a zero-filled
// 128-byte buffer. Prints the verdict; true when it decrypts to a password
// the uninstall lock hands over and the dialog can be given.
bool DecryptStored(const char* pszText, std::string& strPlain)
{
    bool bOk = false;
    char szWhy[160] = {0};
    const size_t nLen = strlen(pszText);
    BYTE abPlain[128];
    DWORD dwLen = sizeof(abPlain);
    memset(abPlain, 0, sizeof(abPlain));
    int nRet = CIPHER_OK;
    if (nLen > kMaxStoredText) {
        printf("decrypts: no (%u characters; the setup program reads only the first %u)\n", (unsigned)nLen,
               (unsigned)kMaxStoredText);
    } else if ((nRet = DecryptPassword(abPlain, &dwLen, pszText)) != CIPHER_OK) {
        printf("decrypts: no (%s)\n", CipherText(nRet));
    } else if (dwLen == 0 || memchr(abPlain, 0, dwLen)) {
        // The reader keeps the text up to its first zero byte.
        printf("decrypts: no (the password is empty or holds a zero byte)\n");
    } else if (!IsTypable((const char*)abPlain, dwLen, szWhy, sizeof(szWhy))) {
        printf("decrypts: no (%s)\n", szWhy);
    } else {
        printf("decrypts: yes (%u bytes)\n", (unsigned)dwLen);
        strPlain.assign((const char*)abPlain, dwLen);
        bOk = true;
    }
    SecureZeroMemory(abPlain, sizeof(abPlain));
    return bOk;
}

int Check(const char* pszText)
{
    int nExit = kExitFail;
    std::string strPassword, strPlain;
    if (GetPassword(strPassword) && DecryptStored(pszText, strPlain)) {
        const bool bMatch = strPlain == strPassword;
        printf("matches: %s\n", bMatch ? "yes" : "no");
        // The uninstall-information document is compared as stored text, so
        // only the text this tool prints for the password is accepted there.
        char szCanonical[128];
        if (bMatch && EncryptPassword(szCanonical, sizeof(szCanonical), (const BYTE*)strPassword.data(),
                                      (DWORD)strPassword.size()) == CIPHER_OK &&
            strcmp(szCanonical, pszText) != 0)
            printf("note: not the text \"kavlapwd encrypt\" makes; KavlaUninstallInfo.xml needs %s\n", szCanonical);
        nExit = bMatch ? kExitOk : kExitFail;
    }
    Forget(strPassword);
    Forget(strPlain);
    return nExit;
}

int DecryptCheck(const char* pszText)
{
    std::string strPlain;
    const int nExit = DecryptStored(pszText, strPlain) ? kExitOk : kExitFail;
    Forget(strPlain);
    return nExit;
}

} // namespace

int main(int argc, char** argv)
{
    int nExit = kExitUsage;
    const std::string strCmd = argc > 1 ? argv[1] : "";
    if (strCmd == "encrypt" && argc == 2)
        nExit = Encrypt();
    else if (strCmd == "check" && argc == 3)
        nExit = Check(argv[2]);
    else if (strCmd == "decrypt-check" && argc == 3)
        nExit = DecryptCheck(argv[2]);
    else
        fputs(kUsage, stderr);
    fflush(stdout);
    return nExit;
}
