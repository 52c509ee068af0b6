#include "driver_runs.h"
#include "pack.h"
#include "reg.h"
#include <algorithm>
#include <stdlib.h>
#include <string.h>

namespace kt {

const char* const kWorkDir = "C:\\tmp\\KavlaSetup0";
const char* const kDownloads = "C:\\Users\\Public\\Downloads";
const char* const kStandinLog = "C:\\kavla_standins.log";
const char* const kProbeResult = "C:\\kavla_probe.txt";
const char* const kKavlaKey = "SOFTWARE\\Kavla";
const char* const kMsiUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5A1C7E20-3B94-4D6F-9E21-7C0B84D2A613}";

namespace {

std::string Field(const std::string& strLine, const std::string& strKey)
{
    std::string strNeedle = strKey + "=";
    size_t nPos = 0;
    while (nPos < strLine.size()) {
        size_t nEnd = strLine.find('\t', nPos);
        if (nEnd == std::string::npos)
            nEnd = strLine.size();
        // The command line is the last field and may hold anything but a line break.
        if (strLine.compare(nPos, strNeedle.size(), strNeedle) == 0)
            return strLine.substr(nPos + strNeedle.size(),
                                  (strKey == "cmd" ? strLine.size() : nEnd) - nPos - strNeedle.size());
        nPos = nEnd + 1;
    }
    return "";
}

} // namespace

std::vector<StandinEvent> StandinEvents()
{
    std::vector<StandinEvent> events;
    std::string strText = ReadBytes(kStandinLog);
    size_t nPos = 0;
    while (nPos < strText.size()) {
        size_t nEnd = strText.find("\r\n", nPos);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        std::string strLine = strText.substr(nPos, nEnd - nPos);
        nPos = nEnd + 2;
        if (strLine.empty())
            continue;
        StandinEvent ev;
        ev.strName = Field(strLine, "name");
        ev.strEvent = Field(strLine, "event");
        ev.strCwd = Field(strLine, "cwd");
        ev.strExe = Field(strLine, "exe");
        ev.strCmd = Field(strLine, "cmd");
        ev.ulTick = strtoul(Field(strLine, "tick").c_str(), NULL, 10);
        ev.nShow = atoi(Field(strLine, "show").c_str());
        events.push_back(ev);
    }
    return events;
}

std::vector<StandinEvent> EventsOf(const std::vector<StandinEvent>& events, const std::string& strName,
                                   const std::string& strEvent)
{
    std::vector<StandinEvent> out;
    for (const StandinEvent& ev : events)
        if (ev.strName == strName && ev.strEvent == strEvent)
            out.push_back(ev);
    return out;
}

Payload::Payload(const std::string& strTag) : m_strFolder(NewTempFolder(strTag)) {}

void Payload::Add(const std::string& strName, const std::string& strBytes)
{
    EXPECT_TRUE(WriteBytes(PathOf(strName), strBytes)) << strName;
    if (!Has(strName))
        m_names.push_back(strName);
}

void Payload::AddCopy(const std::string& strName, const std::string& strSrcPath)
{
    EXPECT_TRUE(CopyFileA(strSrcPath.c_str(), PathOf(strName).c_str(), FALSE)) << strSrcPath;
    if (!Has(strName))
        m_names.push_back(strName);
}

void Payload::Remove(const std::string& strName)
{
    DeleteFileA(PathOf(strName).c_str());
    m_names.erase(std::remove(m_names.begin(), m_names.end(), strName), m_names.end());
}

bool Payload::Has(const std::string& strName) const
{
    return std::find(m_names.begin(), m_names.end(), strName) != m_names.end();
}

void Payload::AddSevenZa() { AddCopy("7za.exe", SevenZaPath()); }

void Payload::AddSevenZip(const std::string& strArchive, const std::string& strTop,
                          const std::map<std::string, std::string>& files)
{
    std::string strSrc = NewTempFolder("7zsrc");
    for (const auto& kv : files)
        EXPECT_TRUE(WriteBytes(strSrc + "\\" + strTop + "\\" + kv.first, kv.second));
    DeleteFileA(PathOf(strArchive).c_str());
    int nExit = Run("\"" + SevenZaPath() + "\" a -t7z -bd \"" + PathOf(strArchive) + "\" " + strTop, 120000, strSrc);
    EXPECT_EQ(0, nExit) << "7za a " << strArchive;
    if (!Has(strArchive))
        m_names.push_back(strArchive);
}

void Payload::AddComponentPack(const std::map<std::string, std::string>& files)
{
    std::string strSrc = NewTempFolder("compsrc");
    bool bFirst = true;
    for (const auto& kv : files) {
        EXPECT_TRUE(WriteBytes(strSrc + "\\" + kv.first, kv.second));
        DWORD dwErr = 0;
        EXPECT_EQ(1, utl_FilePack(strSrc.c_str(), kv.first.c_str(), m_strFolder.c_str(), "KavlaComponent.exe",
                                  &dwErr, bFirst ? 0 : 1))
            << kv.first << " err " << dwErr;
        bFirst = false;
    }
    if (!Has("KavlaComponent.exe"))
        m_names.push_back("KavlaComponent.exe");
}

void Payload::AddStandins()
{
    AddCopy("pymApxSvr.exe", TestBinPath("pymApxSvr.exe"));
    AddCopy("KavlaSetup.exe", TestBinPath("KavlaSetup.exe"));
}

const std::map<std::string, std::string>& StandardFiles()
{
    static const std::map<std::string, std::string> files = {
        {"locations.xml", "<?xml version=\"1.0\"?>\r\n<locations><location name=\"office\"/></locations>\r\n"},
        {"conn_cfg.ini", "[conn]\r\nname=office\r\n"},
        {"office-cfg.xml", "<cfg name=\"office\"/>\r\n"},
        // Split at the first '-': data\branch\a-cfg.xml.
        {"branch-a-cfg.xml", "<cfg name=\"branch a\"/>\r\n"},
        // No '-': no prefix to place it under, so it stays where it is.
        {"plaincfg.xml", "<cfg/>\r\n"},
        // Prefixes that are no plain folder name are refused: ".." would put
        // the file beside data, "con" names a device.
        {"..-cfg.xml", "<cfg climb=\"1\"/>\r\n"},
        {"con-cfg.xml", "<cfg device=\"1\"/>\r\n"},
    };
    return files;
}

const std::map<std::string, std::string>& StandardQtFiles()
{
    static const std::map<std::string, std::string> files = {
        {"Qt5Core.dll", std::string(3000, 'Q') + "core"},
        {"qt.conf", "[Paths]\r\nPlugins=plugins\r\n"},
        {"plugins\\platforms\\qwindows.dll", std::string(1500, 'w')},
    };
    return files;
}

const std::map<std::string, std::string>& StandardCmdCfgFiles()
{
    static const std::map<std::string, std::string> files = {
        {"cmdcfg.xml", "<cmd server=\"gw.example\"/>\r\n"},
    };
    return files;
}

const std::map<std::string, std::string>& StandardComponentFiles()
{
    static const std::map<std::string, std::string> files = {
        {"comp_a.dll", std::string(5000, 'a')},
        {"comp_b.txt", "component b\r\n"},
    };
    return files;
}

void Payload::AddStandard()
{
    AddStandins();
    AddSevenZa();
    AddSevenZip("Qt.7z", "Qt", StandardQtFiles());
    AddSevenZip("WebCmdCustomCfg.7z", "WebCmdCustomCfg", StandardCmdCfgFiles());
    AddComponentPack(StandardComponentFiles());
    for (const auto& kv : StandardFiles())
        Add(kv.first, kv.second);
}

std::vector<std::string> Payload::Names() const { return m_names; }

bool Payload::BuildCarrier(const std::string& strBase, const std::string& strOut, bool bIncomplete) const
{
    std::string strCmd = "\"" + DistPath("kavlapack.exe") + "\" build \"" + strBase + "\" \"" + strOut + "\"";
    if (bIncomplete)
        strCmd += " --allow-incomplete";
    for (const std::string& strName : m_names)
        strCmd += " \"" + PathOf(strName) + "\"";
    int nExit = Run(strCmd, 120000);
    EXPECT_EQ(0, nExit) << strCmd;
    return nExit == 0 && Exists(strOut);
}

static void DeleteRegValue(const char* pszKey, const char* pszValue)
{
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_SET_VALUE | UTL_REG_VIEW, &hKey) == ERROR_SUCCESS) {
        RegDeleteValueA(hKey, pszValue);
        RegCloseKey(hKey);
    }
}

void ResetRunState()
{
    RemoveTree(kWorkDir);
    RemoveTree("C:\\KavlaLog");
    RemoveTree(kStandinLog);
    RemoveTree(kProbeResult);
    // Value by value: the values the driver reads must be gone from the
    // 32-bit view it reads them in.
    DeleteRegValue(kKavlaKey, "InstallByMsi");
    DeleteRegValue(kKavlaKey, "MsiSourceName");
    DeleteRegValue(kMsiUninstallKey, "MsiSourceName");
}

void SetStandinDurations(DWORD dwPymMs, DWORD dwInstallerMs)
{
    SetEnvironmentVariableA("KAVLA_STANDIN_MS_pymApxSvr", std::to_string(dwPymMs).c_str());
    SetEnvironmentVariableA("KAVLA_STANDIN_MS_KavlaSetup", std::to_string(dwInstallerMs).c_str());
}

int RunCarrier(const std::string& strCarrier, const std::string& strPath, DWORD dwTimeoutMs)
{
    size_t nSep = strPath.find_last_of('\\');
    std::string strFolder = strPath.substr(0, nSep);
    MakeDirs(strFolder);
    if (!CopyFileA(strCarrier.c_str(), strPath.c_str(), FALSE))
        return -1;
    return Run("\"" + strPath + "\"", dwTimeoutMs, strFolder);
}

void StartWholeRun(DWORD dwPymMs, DWORD dwInstallerMs)
{
    if (IsEmulated())
        return;
    ResetRunState();
    SetStandinDurations(dwPymMs, dwInstallerMs);
}

int BuildAndRunSetup(const Payload& payload, const std::string& strTag, bool bIncomplete)
{
    std::string strCarrier = NewTempFolder(strTag) + "\\Setup.exe";
    if (!payload.BuildCarrier(DistPath("Setup.exe"), strCarrier, bIncomplete))
        return -2;
    return RunCarrier(strCarrier, std::string(kDownloads) + "\\Setup.exe", 180000);
}

std::vector<std::string> SetupMessages() { return LogMessages(SetupLogText()); }

::testing::AssertionResult HasInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected)
{
    size_t nNext = 0;
    for (const std::string& strWant : expected) {
        while (nNext < lines.size() && lines[nNext] != strWant)
            ++nNext;
        if (nNext == lines.size()) {
            std::string strAll;
            for (const std::string& s : lines)
                strAll += "  | " + s + "\n";
            return ::testing::AssertionFailure() << "missing (in order): \"" << strWant << "\"\nlog:\n" << strAll;
        }
        ++nNext;
    }
    return ::testing::AssertionSuccess();
}

std::string SevenZipCmdFor(const std::string& strArchiveName)
{
    return std::string(kWorkDir) + "\\7za.exe x \"" + kWorkDir + "\\" + strArchiveName + "\" -o\"" + kWorkDir + "\" -y";
}

} // namespace kt
