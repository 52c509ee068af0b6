// Protection of the work folder. The elevated setup program runs files it
// has just written there, so no ordinary user may change what is inside:
// the folder gets its own protected DACL, whatever a non-administrator owns
// in it is not trusted, and the folder is held open without delete sharing
// until the installer has ended, so that it cannot be renamed or replaced.
#pragma once
#include <windows.h>
#include <string>

// The work folder's DACL: SYSTEM and Administrators full control, Users read
// and execute, inherited by everything inside, nothing inherited from above.
// Returns an absolute security descriptor (LocalFree it), or NULL.
PSECURITY_DESCRIPTOR utl_BuildWorkDirSecurity(void);
// The descriptor's DACL as SDDL text (for logs and checks); empty on failure.
std::string utl_SecurityToSddl(PSECURITY_DESCRIPTOR pSd);
// Applies that DACL to the folder a handle (opened with WRITE_DAC) holds,
// or to the real folder of that path. 1 on success.
int utl_ProtectFolderHandle(HANDLE hFolder);
int utl_ProtectWorkDir(const char* pszFolder);

// Guards the work folder pszFolder (made by the caller) before anything in
// it is emptied: opens and holds it in *phHold, makes it anew when an
// ordinary user owns it, protects it through the held handle, and then
// removes whatever a link or a non-administrator put inside. 1 when held;
// 0 (logged, nothing held) when the folder cannot be made safe.
int utl_GuardWorkFolder(const char* pszFolder, HANDLE* phHold);

// 1 when an owner SID may own what the setup program runs: Administrators,
// SYSTEM, or the (administrator) user this program runs as.
int utl_IsTrustedOwnerSid(PSID pOwner);
// 1 when the owner of the entry the handle holds is trusted.
int utl_IsOwnerTrustedHandle(HANDLE hEntry);
// 1 when the file or folder's owner is trusted; 0 also when it cannot be
// read or the entry is a link.
int utl_IsOwnerTrusted(const char* pszPath);
// Deletes, through the whole tree and without following links, every link
// and every entry whose owner is not trusted (folders with their whole
// tree). Returns the number of entries removed.
int utl_RemoveUntrustedEntries(const char* pszFolder);
