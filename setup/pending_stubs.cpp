// TEMPORARY: placeholders until the modules land; each owner deletes its part.
#include "driver.h"
#include "uninstall_lock.h"
#include "cipher.h"

HANDLE g_hInstanceEvent = NULL;
void CloseInstanceEvent(void)
{
    if (g_hInstanceEvent) {
        CloseHandle(g_hInstanceEvent);
        g_hInstanceEvent = NULL;
    }
}
int UnpackAndSetup(DWORD* pdwErr) { CloseInstanceEvent(); return 0; }
int IsUninstallPrompt(const char* pszModule, char* pszPwdBuf) { return 0; }
