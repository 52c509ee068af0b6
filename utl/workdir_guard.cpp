#include "workdir_guard.h"
#include "file.h"
#include "link.h"
#include "log.h"
#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>
#include <string.h>

namespace {

// Read and execute for ordinary users: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE.
const DWORD kUsersAccess = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
// Every right that changes a folder, its entries or its security.
const DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES
                           | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

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

// 1 when no entry of the DACL lets anyone but trusted SIDs write, here or,
// through an inheritable entry, in what is made inside. The creator of an
// entry inside could write there already. A missing DACL lets everyone.
int WritableOnlyByTrusted(PACL pAcl)
{
    if (!pAcl)
        return 0;
    for (DWORD i = 0; i < pAcl->AceCount; ++i) {
        ACE_HEADER* pHeader = NULL;
        if (!GetAce(pAcl, i, (void**)&pHeader))
            return 0;
        if (pHeader->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        ACCESS_ALLOWED_ACE* pAce = (ACCESS_ALLOWED_ACE*)pHeader;
        // Other kinds of allowing entries are not read: they count as writers.
        if (pHeader->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return 0;
        PSID pSid = (PSID)&pAce->SidStart;
        if ((pAce->Mask & kWriteRights) && !utl_IsTrustedOwnerSid(pSid) && !IsWellKnown(pSid, WinCreatorOwnerSid))
            return 0;
    }
    return 1;
}

// A unique name beside pszName for what stood in the program's way.
void AsideName(const char* pszName, char* pszOut, size_t cbOut)
{
    static unsigned s_uAside = 0;
    snprintf(pszOut, cbOut, "%s.%lx-%lx-%u.old", pszName, (unsigned long)GetCurrentProcessId(),
             (unsigned long)GetTickCount(), ++s_uAside);
}

// Renames whatever stands at pszName in pParent to a name of its own, never
// through a link (a junction is renamed itself; a handle that a link led
// elsewhere is not used). The new name in pszAside.
int MoveAside(const UtlFolder* pParent, const char* pszName, char* pszAside, size_t cbAside)
{
    UtlEntryKind eKind = UTL_ENTRY_FOREIGN;
    HANDLE hEntry = utl_OpenAt(pParent, pszName, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               UTL_OPEN, 0, &eKind);
    AsideName(pszName, pszAside, cbAside);
    int bMoved = hEntry != INVALID_HANDLE_VALUE && eKind != UTL_ENTRY_FOREIGN
                 && utl_RenameAt(pParent, hEntry, pszAside);
    utl_CloseHandle(hEntry);
    if (bMoved)
        SetupLogF("%s was not the setup's own, it was moved aside as %s.", pszName, pszAside);
    return bMoved;
}

// Links anywhere in the tree go as links; bAllGone is 0 when one stays or
// an entry cannot be told.
struct Sweep {
    int bAllGone;
    int nDepth;
};

void SweepEntry(void* pvSweep, const UtlFolder* pFolder, const char* pszName, DWORD)
{
    Sweep* pSweep = (Sweep*)pvSweep;
    UtlEntryKind eKind = UTL_ENTRY_FOREIGN;
    DWORD dwAttributes = 0;
    UtlFolder child;
    int nLook = utl_LookAt(pFolder, pszName, &eKind, &dwAttributes);
    if (nLook < 0 || (nLook == 1 && eKind != UTL_ENTRY_OWN && !utl_RemoveLinkAt(pFolder, pszName))) {
        pSweep->bAllGone = 0;
    } else if (nLook == 1 && eKind == UTL_ENTRY_OWN && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Sweep inner = {1, pSweep->nDepth + 1};
        if (inner.nDepth >= UTL_MAX_TREE_DEPTH || !utl_HoldFolderAt(pFolder, pszName, 0, UTL_OPEN, NULL, &child, NULL)
            || !utl_ListAt(&child, "*", SweepEntry, &inner))
            inner.bAllGone = 0;
        utl_ReleaseFolder(&child);
        pSweep->bAllGone &= inner.bAllGone;
    }
}

// Holds the folder pszName of pParent as the program's own: a new one made
// with pSd, or, when bAdopt, an existing real folder that utl_IsOwnWorkFolder
// accepts and whose links all go; otherwise an existing real folder as it
// is. What is not taken is moved aside (when bAdopt, also removed without
// following links) and a new one made.
int HoldOwn(const UtlFolder* pParent, const char* pszName, PSECURITY_DESCRIPTOR pSd,
            int bAdopt, UtlFolder* pOut)
{
    for (int i = 0; i < 2; ++i) {
        DWORD dwErr = 0;
        if (utl_HoldFolderAt(pParent, pszName, 0, UTL_CREATE, pSd, pOut, &dwErr))
            return 1;
        if (dwErr != ERROR_ALREADY_EXISTS)
            return 0;
        if (utl_HoldFolderAt(pParent, pszName, 0, UTL_OPEN, NULL, pOut, &dwErr)) {
            Sweep sweep = {1, 0};
            if (!bAdopt)
                return 1;
            if (utl_IsOwnWorkFolder(pOut->hFolder) && utl_ListAt(pOut, "*", SweepEntry, &sweep) && sweep.bAllGone)
                return 1;
            utl_ReleaseFolder(pOut);
        }
        char szAside[UTL_MAX_PATH];
        if (!MoveAside(pParent, pszName, szAside, sizeof(szAside)))
            return 0;
        // An earlier run's folder, or one planted, goes as far as it can.
        if (bAdopt)
            utl_DeleteTreeAt(pParent, szAside);
    }
    return 0;
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

int utl_IsTrustedOwnerSid(PSID pOwner)
{
    if (!pOwner || !IsValidSid(pOwner))
        return 0;
    return IsWellKnown(pOwner, WinBuiltinAdministratorsSid) || IsWellKnown(pOwner, WinLocalSystemSid)
           || IsProcessUser(pOwner);
}

int utl_IsOwnWorkFolder(HANDLE hFolder)
{
    // FAT32 and exFAT keep no security; the system makes up a descriptor
    // whose owner is nobody's: there is nothing to check, nor to protect.
    if (!utl_VolumeKeepsAcls(hFolder))
        return 1;
    PSID pOwner = NULL;
    PACL pAcl = NULL;
    PSECURITY_DESCRIPTOR pSd = NULL;
    if (GetSecurityInfo(hFolder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner,
                        NULL, &pAcl, NULL, &pSd) != ERROR_SUCCESS)
        return 0;
    int bOwn = utl_IsTrustedOwnerSid(pOwner) && WritableOnlyByTrusted(pAcl);
    LocalFree(pSd);
    return bOwn;
}

int utl_GuardWorkFolder(const char* pszBase, const char* pszName, UtlFolder* pBase, UtlFolder* pWork)
{
    pBase->hFolder = pWork->hFolder = INVALID_HANDLE_VALUE;
    UtlFolder root;
    const char* pszBaseName = NULL;
    PSECURITY_DESCRIPTOR pSd = utl_BuildWorkDirSecurity();
    int bHeld = pSd && utl_HoldParentOf(pszBase, &root, &pszBaseName)
                && HoldOwn(&root, pszBaseName, pSd, 0, pBase)
                && HoldOwn(pBase, pszName, pSd, 1, pWork);
    utl_ReleaseFolder(&root);
    LocalFree(pSd);
    if (!bHeld) {
        SetupLog("The work folder cannot be made safe.");
        utl_ReleaseFolder(pWork);
        utl_ReleaseFolder(pBase);
        return 0;
    }
    if (!utl_VolumeKeepsAcls(pWork->hFolder))
        SetupLog("The work folder cannot be protected on this volume: it keeps no security.");
    return 1;
}
