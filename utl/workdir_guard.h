// The work folder. The elevated setup program runs files it has just
// written there, so no ordinary user may ever have been able to change what
// is inside: the folder (and <drive>:\tmp, when the program makes it) is
// made with its protecting descriptor at creation; an existing one is used
// only when nobody but administrators can write in it; anything else at its
// name is moved aside, never followed, and a new one made. Both folders are
// held without delete sharing until the installer has ended, so that the
// path of every program started from there leads to them.
#pragma once
#include <windows.h>
#include <string>
#include "held.h"

// The work folder's DACL: SYSTEM and Administrators full control, Users read
// and execute, inherited by everything inside, nothing inherited from above.
// Returns an absolute security descriptor (LocalFree it), or NULL.
PSECURITY_DESCRIPTOR utl_BuildWorkDirSecurity(void);
// The descriptor's DACL as SDDL text (for logs and checks); empty on failure.
std::string utl_SecurityToSddl(PSECURITY_DESCRIPTOR pSd);

// 1 when an SID may own what the setup program runs, or write where it
// does: Administrators, SYSTEM, or the (administrator) user this program
// runs as.
int utl_IsTrustedOwnerSid(PSID pOwner);
// 1 when the folder a handle holds (with READ_CONTROL) is the setup's own to
// use: a trusted owner, and a DACL that lets nobody else write in it or in
// what it passes its entries to. A volume that keeps no security passes.
int utl_IsOwnWorkFolder(HANDLE hFolder);

// Holds pszBase (made when missing) and the work folder pszName in it, made
// or adopted as above, in *pBase and *pWork. 1 when both are held; 0
// (logged, nothing held) when the work folder cannot be made safe.
int utl_GuardWorkFolder(const char* pszBase, const char* pszName, UtlFolder* pBase, UtlFolder* pWork);
