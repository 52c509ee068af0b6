// Whole-program runs of the install driver: payloads staged as real files
// (the real 7za.exe, real .7z archives, the stand-ins of the payload
// programs), carriers built with the payload tool, and what a run left
// behind (the stand-ins' record, the work folder).
#pragma once
#include "testutil.h"
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace kt {

extern const char* const kWorkDir;      // C:\tmp\KavlaSetup0
extern const char* const kDownloads;    // where a browser puts Setup.exe
extern const char* const kStandinLog;   // what the stand-ins record
extern const char* const kProbeResult;  // what drv_probe.exe records
extern const char* const kKavlaKey;     // SOFTWARE\Kavla
extern const char* const kMsiUninstallKey;

// One line of the stand-ins' record.
struct StandinEvent {
    std::string strName, strEvent, strCwd, strExe, strCmd;
    unsigned long ulTick = 0;
    int nShow = -2;
};
std::vector<StandinEvent> StandinEvents();
// The events of one stand-in ("pymApxSvr", "KavlaSetup") and kind ("start", "end", "window").
std::vector<StandinEvent> EventsOf(const std::vector<StandinEvent>& events, const std::string& strName,
                                   const std::string& strEvent);

// A staging folder whose files become the payload's records (by file name).
class Payload {
public:
    explicit Payload(const std::string& strTag);
    const std::string& Folder() const { return m_strFolder; }
    std::string PathOf(const std::string& strName) const { return m_strFolder + "\\" + strName; }
    void Add(const std::string& strName, const std::string& strBytes);
    void AddCopy(const std::string& strName, const std::string& strSrcPath);
    void Remove(const std::string& strName);
    bool Has(const std::string& strName) const;
    // The real 7-Zip console extractor as 7za.exe.
    void AddSevenZa();
    // A .7z archive made by the real 7za.exe holding strTop\<name> for each file.
    void AddSevenZip(const std::string& strArchive, const std::string& strTop,
                     const std::map<std::string, std::string>& files);
    // KavlaComponent.exe: a stand-alone container (offset 0) of the files.
    void AddComponentPack(const std::map<std::string, std::string>& files);
    // pymApxSvr.exe and KavlaSetup.exe of the test programs.
    void AddStandins();
    // Everything of a normal install (see StandardFiles for the plain files).
    void AddStandard();
    std::vector<std::string> Names() const;
    // The payload tool: base program padded to 3,300,000, the records, the end marker.
    // bIncomplete: the payload lacks a program on purpose (--allow-incomplete).
    bool BuildCarrier(const std::string& strBase, const std::string& strOut, bool bIncomplete = false) const;

private:
    std::string m_strFolder;
    std::vector<std::string> m_names;  // in the order added
};

// The plain configuration files of the standard payload: name -> content.
const std::map<std::string, std::string>& StandardFiles();
const std::map<std::string, std::string>& StandardQtFiles();        // under Qt\ in Qt.7z
const std::map<std::string, std::string>& StandardCmdCfgFiles();    // under WebCmdCustomCfg\ in its .7z
const std::map<std::string, std::string>& StandardComponentFiles(); // in KavlaComponent.exe

// Forgets what an earlier run in this prefix left: work folder, logs, the
// stand-ins' and the probe's records, the MSI registry values.
void ResetRunState();
// Sets how long the stand-ins stay (inherited by the programs the setup starts).
void SetStandinDurations(DWORD dwPymMs, DWORD dwInstallerMs);
// Copies a carrier to strPath (folders made) and runs it from its folder;
// the exit code, -1 on time-out.
int RunCarrier(const std::string& strCarrier, const std::string& strPath, DWORD dwTimeoutMs);
// Whole-program run state for a test: ResetRunState and the stand-ins'
// durations; nothing where the whole program cannot run (emulated).
void StartWholeRun(DWORD dwPymMs, DWORD dwInstallerMs);
// Builds Setup.exe with the payload in a new temporary folder strTag and
// runs it from the downloads folder within three minutes: its exit code, -2
// when it cannot be built. bIncomplete as for Payload::BuildCarrier.
int BuildAndRunSetup(const Payload& payload, const std::string& strTag, bool bIncomplete = false);
// The setup log's messages of today.
std::vector<std::string> SetupMessages();
// Whether the lines hold the expected ones in this order (others may lie between).
::testing::AssertionResult HasInOrder(const std::vector<std::string>& lines,
                                      const std::vector<std::string>& expected);
// The 7-Zip command line the driver must log for an archive of the work folder.
std::string SevenZipCmdFor(const std::string& strArchiveName);

} // namespace kt
