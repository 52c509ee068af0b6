// Protected settings files for tests: their folders in the test's prefix,
// documents and pairs made with the program's own writer, an independent
// digest for hand-made verification files, and a fixture that starts and
// ends every test with no protected file, backup or lock value around.
// The 32-bit build runs all tests of an executable in one prefix, so the
// fixture cleans up instead of relying on a fresh prefix.
#pragma once
#include <gtest/gtest.h>
#include "file.h"
#include "reg.h"
#include "mbedtls/md5.h"
#include "reginfo.h"
#include "testutil.h"
#include <string>
#include <vector>

namespace vt {

struct Pair {
    VrfWhich eWhich;
    const char* pszProtected;
    const char* pszVrf;
    // The pair's check with the default block.
    int Check(const char* pszFolder) const { return VrfCheckPair(pszFolder, eWhich, 0, NULL); }
};

// The four pairs of the program's table, in the order the uninstall lock
// considers them.
inline const std::vector<Pair>& Pairs()
{
    static std::vector<Pair> s_pairs;
    for (int i = (int)s_pairs.size(); i < VRF_PAIR_COUNT; ++i)
        s_pairs.push_back({(VrfWhich)i, g_aVrfPairs[i].pszProtected, g_aVrfPairs[i].pszVrf});
    return s_pairs;
}

inline std::string CommonFiles()
{
    const char* psz = utl_GetCommonProgramFiles();
    return psz ? psz : "";
}
inline std::string RegInfo() { return CommonFiles() + "\\Kavla\\Orvane\\reginfo"; }
inline std::string LegacyTop() { return CommonFiles() + "\\Solvar-Tremo"; }
inline std::string Legacy() { return LegacyTop() + "\\Orvane\\reginfo"; }
// The client keeps its backups in the system folder (SysWOW64 for a 32-bit
// process on 64-bit Windows, through the file system redirector).
inline std::string Backup() { return "C:\\windows\\system32"; }

inline std::string DefaultBlock()
{
    std::string s(32, '\0');
    s[0] = '\xff';
    return s;
}

inline std::string Key()
{
    BYTE ab[100];
    DWORD dwLen = sizeof(ab);
    if (!utl_BuildVrfKey(ab, &dwLen))
        return "";
    return std::string((const char*)ab, dwLen);
}

inline std::string Md5(const std::string& strInput)
{
    unsigned char ab[16];
    mbedtls_md5((const unsigned char*)strInput.data(), strInput.size(), ab);
    return std::string((const char*)ab, 16);
}

// A verification file made by hand: salt + MD5(content, salt, block, key).
inline std::string MakeVrf(const std::string& strContent, const std::string& strSalt,
                           const std::string& strBlock)
{
    return strSalt + Md5(strContent + strSalt + strBlock + Key());
}

inline std::string Salt(unsigned char cSeed)
{
    std::string s(VRF_SALT_SIZE, '\0');
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = (char)(unsigned char)(cSeed + i * 7);
    return s;
}

// Writes the protected file and its verification file with CreateVrfFile.
inline bool WritePair(const std::string& strFolder, const Pair& pair, const std::string& strContent)
{
    std::string strProt = strFolder + "\\" + pair.pszProtected;
    if (!kt::WriteBytes(strProt, strContent))
        return false;
    DWORD dwErr = 0;
    return CreateVrfFile(strProt.c_str(), (strFolder + "\\" + pair.pszVrf).c_str(), &dwErr) == 1;
}

inline const Pair& PairOf(VrfWhich eWhich) { return Pairs()[eWhich]; }

// Documents as the client's administration writes them.
inline std::string CustomXml(const std::string& strUninstall, const std::string& strStoredPwd,
                             const std::string& strIconName = "")
{
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<msg>\r\n<content>\r\n<functions>\r\n";
    if (!strUninstall.empty())
        s += "<uninstall>" + strUninstall + "</uninstall>\r\n";
    s += "<uninstallPassword>" + strStoredPwd + "</uninstallPassword>\r\n</functions>\r\n";
    s += "<logoOptions>\r\n<customIcon>1</customIcon>\r\n<CusIconName>" + strIconName
         + "</CusIconName>\r\n</logoOptions>\r\n</content>\r\n</msg>\r\n";
    return s;
}

inline std::string UninstallXml(const std::string& strUninstall, const std::string& strStoredPwd)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<msg><content><uninstallInfo>"
           "<uninstall>" + strUninstall + "</uninstall><uninstallPass>" + strStoredPwd
           + "</uninstallPass></uninstallInfo></content></msg>\r\n";
}

inline std::string Ini(const std::string& strUninstall, const std::string& strInstall)
{
    return "[General]\r\nName=x\r\n[Functions]\r\nUninstall=" + strUninstall + "\r\nInstall=" + strInstall
           + "\r\n";
}

// An icon of dwSize bytes whose bytes from 512 on differ from the default block.
inline std::string Icon(size_t nSize, unsigned char cSeed = 0x31)
{
    std::string s(nSize, '\0');
    for (size_t i = 0; i < nSize; ++i)
        s[i] = (char)(unsigned char)(cSeed + i);
    return s;
}

// Content of nLen bytes that differs from position to position.
inline std::string Content(size_t nLen, unsigned char cSeed = 0x20)
{
    std::string s(nLen, '\0');
    for (size_t i = 0; i < nLen; ++i)
        s[i] = (char)(unsigned char)(cSeed + i * 13 + (i >> 8));
    return s;
}

// KavlaCustom.xml of a folder with a hand-made verification file over the
// given block.
inline void WriteCustomXmlWithBlock(const std::string& strFolder, const std::string& strDoc,
                                    const std::string& strBlock)
{
    ASSERT_TRUE(kt::WriteBytes(strFolder + "\\KavlaCustom.xml", strDoc));
    ASSERT_TRUE(kt::WriteBytes(strFolder + "\\KavlaCustomXml.vrf", MakeVrf(strDoc, Salt(9), strBlock)));
}

// Runs a command line and returns its exit code (-1 when it cannot start or
// does not end within a minute), with stdout and stderr in strOut. pvEnv is
// an environment block for the child, or NULL for this process's.
inline int RunCapture(const std::string& strCmdLine, std::string& strOut, void* pvEnv = NULL)
{
    strOut.clear();
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    HANDLE hRead = NULL, hWrite = NULL;
    if (!CreatePipe(&hRead, &hWrite, &sa, 0))
        return -1;
    SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hWrite;
    si.hStdError = hWrite;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::string strCmd = strCmdLine;
    BOOL bOk = CreateProcessA(NULL, &strCmd[0], NULL, NULL, TRUE, CREATE_NO_WINDOW, pvEnv, NULL, &si, &pi);
    CloseHandle(hWrite);
    if (!bOk) {
        CloseHandle(hRead);
        return -1;
    }
    char ab[4096];
    DWORD dwRead = 0;
    while (ReadFile(hRead, ab, sizeof(ab), &dwRead, NULL) && dwRead)
        strOut.append(ab, dwRead);
    CloseHandle(hRead);
    DWORD dwCode = (DWORD)-1;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &dwCode);
    else
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)dwCode;
}

// This process's environment without the variable strName (exact name,
// any case), as a block for CreateProcessA.
inline std::string EnvironmentWithout(const std::string& strName)
{
    std::string strBlock;
    char* pszEnv = GetEnvironmentStringsA();
    for (const char* p = pszEnv; p && *p; p += strlen(p) + 1) {
        if (_strnicmp(p, (strName + "=").c_str(), strName.size() + 1) != 0)
            strBlock.append(p, strlen(p) + 1);
    }
    if (pszEnv)
        FreeEnvironmentStringsA(pszEnv);
    strBlock.push_back('\0');
    return strBlock;
}

const char* const KEY_KAVLA = "SOFTWARE\\Kavla";
const char* const KEY_DRAVIK = "SOFTWARE\\Dravik";
const char* const KEY_DRAVIK_KAVLA = "SOFTWARE\\Dravik\\Kavla";
const char* const KEY_CLIENT_NEW =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3D92A0C4-6E1B-47F8-A5D3-90C2E7B1F468}";
const char* const KEY_CLIENT_OLD =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E4F2B61-D07A-4C35-B9E8-21A6F3C05D72}";

// Deletes a key of the 32-bit view with everything below it. The key itself
// is opened in that view: a tree deletion relative to HKLM opened with the
// view flag reaches the native view's key under Wine.
inline void RegDeleteKey32(const char* pszKey)
{
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_ALL_ACCESS | UTL_REG_VIEW, &hKey) != ERROR_SUCCESS)
        return;
    RegDeleteTreeA(hKey, NULL);
    RegCloseKey(hKey);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, pszKey, UTL_REG_VIEW, 0);
}

inline void RemoveBackups()
{
    for (const Pair& pair : Pairs()) {
        for (const char* psz : {pair.pszProtected, pair.pszVrf}) {
            std::string strPath = Backup() + "\\" + psz;
            SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(strPath.c_str());
        }
    }
}

// Clean state before and after every test; the log of module "setup" is
// read from where it stood when the test began.
class ProtectedFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Clean();
        m_nLogStart = kt::UtlLogText("setup").size();
    }
    void TearDown() override { Clean(); }

    void Clean()
    {
        kt::RemoveTree(CommonFiles() + "\\Kavla");
        kt::RemoveTree(LegacyTop());
        RemoveBackups();
        for (const char* pszKey : {KEY_KAVLA, KEY_DRAVIK, KEY_CLIENT_NEW, KEY_CLIENT_OLD})
            RegDeleteKey32(pszKey);
    }

    std::vector<std::string> NewLogLines() const
    {
        std::string strText = kt::UtlLogText("setup");
        return kt::LogMessages(strText.size() >= m_nLogStart ? strText.substr(m_nLogStart) : strText);
    }

    size_t m_nLogStart = 0;
};

} // namespace vt
