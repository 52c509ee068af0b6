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
// Applies that DACL to the folder. 1 on success.
int utl_ProtectWorkDir(const char* pszFolder);

// 1 when an owner SID may own what the setup program runs: Administrators,
// SYSTEM, or the (administrator) user this program runs as.
int utl_IsTrustedOwnerSid(PSID pOwner);
// 1 when the file or folder's owner is trusted; 0 also when it cannot be read.
int utl_IsOwnerTrusted(const char* pszPath);
// Deletes every entry of the folder whose owner is not trusted (folders with
// their whole tree). Returns the number of entries removed.
int utl_RemoveUntrustedEntries(const char* pszFolder);

// Opens the folder so that it can be neither deleted nor renamed while the
// handle is held. INVALID_HANDLE_VALUE on failure.
HANDLE utl_HoldFolder(const char* pszFolder);
void utl_ReleaseFolder(HANDLE& hFolder);
