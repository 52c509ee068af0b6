#include "workdir_guard.h"
#include "file.h"
#include <aclapi.h>
#include <sddl.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Read and execute for ordinary users: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE.
const DWORD kUsersAccess = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

bool AddAce(PACL pAcl, WELL_KNOWN_SID_TYPE eType, DWORD dwAccess)
{
    BYTE abSid[SECURITY_MAX_SID_SIZE];
    DWORD cbSid = sizeof(abSid);
    if (!CreateWellKnownSid(eType, NULL, abSid, &cbSid))
        return false;
    return AddAccessAllowedAceEx(pAcl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, dwAccess,
                                 abSid) != FALSE;
}

bool IsWellKnown(PSID pSid, WELL_KNOWN_SID_TYPE eType)
{
    BYTE abSid[SECURITY_MAX_SID_SIZE];
    DWORD cbSid = sizeof(abSid);
    return CreateWellKnownSid(eType, NULL, abSid, &cbSid) && EqualSid(pSid, abSid);
}

bool IsProcessUser(PSID pSid)
{
    HANDLE hToken = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return false;
    BYTE abUser[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD cb = 0;
    bool bEqual = GetTokenInformation(hToken, TokenUser, abUser, sizeof(abUser), &cb)
                  && EqualSid(pSid, ((TOKEN_USER*)abUser)->User.Sid);
    CloseHandle(hToken);
    return bEqual;
}

} // namespace

PSECURITY_DESCRIPTOR utl_BuildWorkDirSecurity(void)
{
    // One block: the descriptor followed by its ACL.
    const DWORD cbAcl = sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE);
    BYTE* pBlock = (BYTE*)LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH + cbAcl);
    if (!pBlock)
        return NULL;
    PSECURITY_DESCRIPTOR pSd = (PSECURITY_DESCRIPTOR)pBlock;
    PACL pAcl = (PACL)(pBlock + SECURITY_DESCRIPTOR_MIN_LENGTH);
    bool bOk = InitializeSecurityDescriptor(pSd, SECURITY_DESCRIPTOR_REVISION)
               && InitializeAcl(pAcl, cbAcl, ACL_REVISION)
               && AddAce(pAcl, WinLocalSystemSid, FILE_ALL_ACCESS)
               && AddAce(pAcl, WinBuiltinAdministratorsSid, FILE_ALL_ACCESS)
               && AddAce(pAcl, WinBuiltinUsersSid, kUsersAccess)
               && SetSecurityDescriptorDacl(pSd, TRUE, pAcl, FALSE)
               && SetSecurityDescriptorControl(pSd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (!bOk) {
        LocalFree(pBlock);
        return NULL;
    }
    return pSd;
}

std::string utl_SecurityToSddl(PSECURITY_DESCRIPTOR pSd)
{
    char* pszSddl = NULL;
    if (!pSd || !ConvertSecurityDescriptorToStringSecurityDescriptorA(pSd, SDDL_REVISION_1,
                                                                      DACL_SECURITY_INFORMATION, &pszSddl, NULL))
        return "";
    std::string strSddl = pszSddl;
    LocalFree(pszSddl);
    return strSddl;
}

int utl_ProtectWorkDir(const char* pszFolder)
{
    PSECURITY_DESCRIPTOR pSd = utl_BuildWorkDirSecurity();
    if (!pSd || !pszFolder)
        return 0;
    BOOL bPresent = FALSE, bDefaulted = FALSE;
    PACL pAcl = NULL;
    GetSecurityDescriptorDacl(pSd, &bPresent, &pAcl, &bDefaulted);
    DWORD dwRes = SetNamedSecurityInfoA((LPSTR)pszFolder, SE_FILE_OBJECT,
                                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, NULL,
                                        NULL, pAcl, NULL);
    LocalFree(pSd);
    return dwRes == ERROR_SUCCESS ? 1 : 0;
}

int utl_IsTrustedOwnerSid(PSID pOwner)
{
    if (!pOwner || !IsValidSid(pOwner))
        return 0;
    return IsWellKnown(pOwner, WinBuiltinAdministratorsSid) || IsWellKnown(pOwner, WinLocalSystemSid)
           || IsProcessUser(pOwner);
}

int utl_IsOwnerTrusted(const char* pszPath)
{
    PSID pOwner = NULL;
    PSECURITY_DESCRIPTOR pSd = NULL;
    if (!pszPath || GetNamedSecurityInfoA((LPSTR)pszPath, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner,
                                          NULL, NULL, NULL, &pSd) != ERROR_SUCCESS)
        return 0;
    int nTrusted = utl_IsTrustedOwnerSid(pOwner);
    LocalFree(pSd);
    return nTrusted;
}

int utl_RemoveUntrustedEntries(const char* pszFolder)
{
    char szSearch[UTL_MAX_PATH];
    if (!utl_PathJoin(szSearch, sizeof(szSearch), pszFolder, "*"))
        return 0;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(szSearch, &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    int nRemoved = 0;
    do {
        char szEntry[UTL_MAX_PATH];
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..")
            || !utl_PathJoin(szEntry, sizeof(szEntry), pszFolder, fd.cFileName) || utl_IsOwnerTrusted(szEntry))
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            utl_DeleteFolderTree(szEntry);
        } else {
            SetFileAttributesA(szEntry, FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(szEntry);
        }
        ++nRemoved;
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    return nRemoved;
}

HANDLE utl_HoldFolder(const char* pszFolder)
{
    if (!pszFolder)
        return INVALID_HANDLE_VALUE;
    // No FILE_SHARE_DELETE: nobody can delete or rename the folder meanwhile.
    return CreateFileA(pszFolder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

void utl_ReleaseFolder(HANDLE& hFolder)
{
    if (hFolder != INVALID_HANDLE_VALUE && hFolder) {
        CloseHandle(hFolder);
    }
    hFolder = INVALID_HANDLE_VALUE;
}
