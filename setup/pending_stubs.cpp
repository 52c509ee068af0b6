// TEMPORARY: placeholders until the modules land; each owner deletes its part.
#include "uninstall_lock.h"
#include "cipher.h"

int IsUninstallPrompt(const char* pszModule, char* pszPwdBuf) { return 0; }
