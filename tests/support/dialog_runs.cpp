#include "dialog_runs.h"
#include "cipher.h"
#include "driver_runs.h"

namespace kt {

const char* const kInstalledKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3D92A0C4-6E1B-47F8-A5D3-90C2E7B1F468}";

std::string StoredText(const std::string& strPassword)
{
    char sz[129] = {0};
    EncryptPassword(sz, 128, (const BYTE*)strPassword.data(), (DWORD)strPassword.size());
    return sz;
}

void ProtectThroughRegistry(const std::string& strStoredText)
{
    RegSetDword("SOFTWARE\\Kavla", "Uninstall", 1);
    RegSetString("SOFTWARE\\Kavla", "UninstallPwd", strStoredText);
    RegSetString(kInstalledKey, "DisplayVersion", "7.1.0");
}

std::string PreparedSetup()
{
    std::string strSetup = std::string(kDownloads) + "\\Setup.exe";
    if (Exists(strSetup))
        return strSetup;
    Payload payload("dialog");
    payload.AddStandard();
    std::string strCarrier = NewTempFolder("dialog_out") + "\\Setup.exe";
    if (!payload.BuildCarrier(DistPath("Setup.exe"), strCarrier))
        return "";
    MakeDirs(kDownloads);
    CopyFileA(strCarrier.c_str(), strSetup.c_str(), FALSE);
    SetStandinDurations(300, 600);
    return strSetup;
}

DialogRun StartAndWaitForDialog(const std::string& strTitle)
{
    DialogRun run;
    std::string strSetup = PreparedSetup();
    if (strSetup.empty())
        return run;
    run.proc = Start("\"" + strSetup + "\"", kDownloads);
    run.hDlg = WaitForWindow(strTitle, 60000, run.proc.dwPid);
    return run;
}

void Submit(HWND hDlg, const std::string& strPassword)
{
    TypeText(hDlg, 1001, strPassword);
    PressButton(hDlg, IDOK);
    Sleep(300);
}

static void Collect(const std::string& strFolder, std::string& strOut)
{
    for (const std::string& name : ListFolder(strFolder)) {
        std::string path = strFolder + "\\" + name;
        if (IsFolder(path))
            Collect(path, strOut);
        else
            strOut += ReadBytes(path);
    }
}

std::string AllLogBytes()
{
    std::string s;
    Collect("C:\\KavlaLog", s);
    return s;
}

bool InstallerRan() { return !EventsOf(StandinEvents(), "KavlaSetup", "start").empty(); }

} // namespace kt
