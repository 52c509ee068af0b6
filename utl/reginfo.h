// Where the protected settings files live and how the setup comes to trust
// them: the Common Files folder, reginfo under it, the legacy folder and the
// backup folder; the two loaders with the legacy migration; and the restore
// of a pair from the backups. The loaders and the restore report through
// utl_Log or their message text.
#pragma once
#include "verify.h"
#include <windows.h>
#include <string>

// Common Files folder (cached for the process), or NULL.
const char* utl_GetCommonProgramFiles(void);
// <Common Files>\Kavla\Orvane\reginfo into pszBuf (UTL_MAX_PATH bytes); 0 when unknown.
int utl_GetRegInfoFolder(char* pszBuf, DWORD dwBufSize);
// <SystemRoot>\system32, where the client keeps the backups of the pairs;
// empty when it does not fit.
void utl_GetBackupFolder(char* pszBuf, DWORD dwBufSize);
// CusIconName of pszFolder\KavlaCustom.xml; empty when the document cannot
// be read. The document is not trusted yet: one too large to verify is not
// parsed at all, since its icon could not make it verify, and parsing an
// untrusted document of any size could stall the setup.
std::string utl_ReadIconName(const char* pszFolder);

int utl_LoadCusIniFile(const char* pszModule);
int utl_LoadCusXmlFile(const char* pszModule);
// Copies the pair from the backup folder into reginfo and checks again;
// strMsg receives the text for the caller to log.
int RestoreAndVerify(VrfWhich eWhich, std::string& strMsg);
