// Verification files: 256 bytes, a 240-byte salt and the MD5 digest over a
// protected settings file, the salt, a 32-byte block and the program's key.
#pragma once
#include <windows.h>
#include <string>

#define VRF_FILE_SIZE 256
#define VRF_SALT_SIZE 240
#define VRF_MAX_CONTENT 40588u

enum { VRF_ERR_SIZE = 301, VRF_ERR_TOO_BIG = 302, VRF_ERR_OPEN = 303, VRF_ERR_CREATE = 304,
       VRF_ERR_WRITE = 305, VRF_ERR_KEY = 306 };

// The four protected files, in the order the uninstall lock considers them.
enum VrfWhich { VRF_CUSTOM_XML, VRF_UNINSTALL_XML, VRF_CUSTOM_INI, VRF_UNINSTALL_INI };

int MakeVrfKey(const BYTE* pbInput, DWORD dwInputLen, BYTE* pbOutput, DWORD* pdwOutputLen);
// The program's verification key (30 bytes) from its fixed input, into a
// buffer of *pdwKeyLen (at least 30) bytes. Built at run time, never stored.
int utl_BuildVrfKey(BYTE* pbKey, DWORD* pdwKeyLen);

int CusIniVerify(const char* pszFolder);
int CusXmlVerify(const char* pszFolder, int bWithIcon, const char* pszIconName);
int UninstallIniVerify(const char* pszFolder);
int UninstallXmlVerify(const char* pszFolder);
int CreateVrfFile(const char* pszProtectedFile, const char* pszVrfFile, DWORD* pdwErr);

// Common Files folder (cached for the process), or NULL.
const char* utl_GetCommonProgramFiles(void);
// <Common Files>\Kavla\Orvane\reginfo into pszBuf (UTL_MAX_PATH bytes); 0 when unknown.
int utl_GetRegInfoFolder(char* pszBuf, DWORD dwBufSize);
int utl_LoadCusIniFile(const char* pszModule);
int utl_LoadCusXmlFile(const char* pszModule);
// Copies the pair from the backup folder into reginfo and checks again;
// strMsg receives the text for the caller to log.
int RestoreAndVerify(VrfWhich eWhich, std::string& strMsg);
