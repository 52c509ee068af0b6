// Uninstall lock: whether an upgrade must ask for the uninstall password.
#pragma once

// 1 when the password dialog must be shown; pszPwdBuf (zero-filled, at least
// 129 bytes) then holds the stored password text of the chosen source.
int IsUninstallPrompt(const char* pszModule, char* pszPwdBuf);
