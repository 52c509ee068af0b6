// Runs of Setup.exe against a password-protected client: the protection set
// up in the prefix, the program started, and its password dialog driven the
// way a person uses it.
#pragma once
#include "testutil.h"
#include <string>

namespace kt {

extern const char* const kInstalledKey;  // the installed client's Uninstall key

// Encrypted password text of a password, as the client stores it.
std::string StoredText(const std::string& strPassword);
// The installed client protected through the registry: Uninstall = 1, the
// stored text in UninstallPwd (as given, may be empty), DisplayVersion set.
void ProtectThroughRegistry(const std::string& strStoredText);

// A Setup.exe with the standard payload (real 7za.exe, archives, stand-ins),
// copied into the downloads folder; built once per test process.
std::string PreparedSetup();

struct DialogRun {
    Proc proc;
    HWND hDlg = NULL;
};
// Starts the setup and waits for its password dialog (title in the system's language).
DialogRun StartAndWaitForDialog(const std::string& strTitle);
// Types a password and presses OK.
void Submit(HWND hDlg, const std::string& strPassword);
// Every byte of every file under C:\KavlaLog.
std::string AllLogBytes();
// Whether the install ran: the installer stand-in recorded its start.
bool InstallerRan();

} // namespace kt
