#include "workdir_guard.h"
#include "file.h"
#include "link.h"
#include "log.h"
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
    utl_CloseHandle(hToken);
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

int utl_ProtectFolderHandle(HANDLE hFolder)
{
    if (hFolder == INVALID_HANDLE_VALUE || !hFolder)
        return 0;
    PSECURITY_DESCRIPTOR pSd = utl_BuildWorkDirSecurity();
    if (!pSd)
        return 0;
    BOOL bPresent = FALSE, bDefaulted = FALSE;
    PACL pAcl = NULL;
    GetSecurityDescriptorDacl(pSd, &bPresent, &pAcl, &bDefaulted);
    DWORD dwRes = SetSecurityInfo(hFolder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  NULL, NULL, pAcl, NULL);
    LocalFree(pSd);
    return dwRes == ERROR_SUCCESS ? 1 : 0;
}

int utl_ProtectWorkDir(const char* pszFolder)
{
    HANDLE hFolder = utl_OpenOwnFolder(pszFolder, WRITE_DAC);
    int nOk = utl_ProtectFolderHandle(hFolder);
    utl_CloseHandle(hFolder);
    return nOk;
}

int utl_GuardWorkFolder(const char* pszFolder, HANDLE* phHold)
{
    HANDLE hFolder = utl_OpenOwnFolder(pszFolder, WRITE_DAC);
    if (hFolder != INVALID_HANDLE_VALUE && !utl_IsOwnerTrustedHandle(hFolder)) {
        SetupLog("The work folder is owned by an untrusted user, it is made anew.");
        utl_CloseHandle(hFolder);
        utl_DeleteFolderTree(pszFolder);
        if (utl_EnsureOwnFolder(pszFolder))
            hFolder = utl_OpenOwnFolder(pszFolder, WRITE_DAC);
        if (hFolder != INVALID_HANDLE_VALUE && !utl_IsOwnerTrustedHandle(hFolder))
            utl_CloseHandle(hFolder);
    }
    if (hFolder != INVALID_HANDLE_VALUE && !utl_ProtectFolderHandle(hFolder)) {
        SetupLog("The work folder cannot be protected.");
        utl_CloseHandle(hFolder);
    }
    if (hFolder == INVALID_HANDLE_VALUE)
        return 0;
    // Whatever was planted before the protection took hold goes.
    utl_RemoveUntrustedEntries(pszFolder);
    *phHold = hFolder;
    return 1;
}

int utl_IsTrustedOwnerSid(PSID pOwner)
{
    if (!pOwner || !IsValidSid(pOwner))
        return 0;
    return IsWellKnown(pOwner, WinBuiltinAdministratorsSid) || IsWellKnown(pOwner, WinLocalSystemSid)
           || IsProcessUser(pOwner);
}

int utl_IsOwnerTrustedHandle(HANDLE hEntry)
{
    PSID pOwner = NULL;
    PSECURITY_DESCRIPTOR pSd = NULL;
    if (hEntry == INVALID_HANDLE_VALUE || !hEntry
        || GetSecurityInfo(hEntry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, NULL, NULL, NULL, &pSd)
               != ERROR_SUCCESS)
        return 0;
    int nTrusted = utl_IsTrustedOwnerSid(pOwner);
    LocalFree(pSd);
    return nTrusted;
}

int utl_IsOwnerTrusted(const char* pszPath)
{
    if (!pszPath)
        return 0;
    HANDLE hEntry = utl_OpenShared(pszPath, READ_CONTROL, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    // A link's owner says nothing about what it leads to.
    int nTrusted = hEntry != INVALID_HANDLE_VALUE && !utl_IsLinkHandle(hEntry, pszPath)
                   && utl_IsOwnerTrustedHandle(hEntry);
    utl_CloseHandle(hEntry);
    return nTrusted;
}

namespace {

// Links anywhere in the tree go as links; entries an untrusted user owns go
// with everything inside; trusted folders are searched in turn.
void SweepEntry(void* pvRemoved, const char* pszEntry, const WIN32_FIND_DATAA* pfd)
{
    int* pnRemoved = (int*)pvRemoved;
    bool bFolder = (pfd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (utl_IsLink(pszEntry)) {
        utl_RemoveLink(pszEntry);
        ++*pnRemoved;
    } else if (!utl_IsOwnerTrusted(pszEntry)) {
        if (bFolder)
            utl_DeleteFolderTree(pszEntry);
        else
            utl_DeleteOwnFile(pszEntry);
        ++*pnRemoved;
    } else if (bFolder) {
        utl_ForEachEntry(pszEntry, "*", SweepEntry, pnRemoved);
    }
}

} // namespace

int utl_RemoveUntrustedEntries(const char* pszFolder)
{
    int nRemoved = 0;
    utl_ForEachEntry(pszFolder, "*", SweepEntry, &nRemoved);
    return nRemoved;
}
