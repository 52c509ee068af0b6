// The four protected settings files and their verification files: one table
// of the pairs, which drives their checks, the restore from the backups, the
// legacy migration and the administrators' tool, and the four checks. The
// format is vrf_file.h; the folders, loaders and restore are reginfo.h.
#pragma once
#include "vrf_file.h"

// The four protected files, in the order the uninstall lock considers them.
enum VrfWhich { VRF_CUSTOM_XML, VRF_UNINSTALL_XML, VRF_CUSTOM_INI, VRF_UNINSTALL_INI, VRF_PAIR_COUNT };

struct VrfPair {
    const char* pszProtected;   // the protected file's name
    const char* pszVrf;         // its verification file's name, in the same folder
    // 1 when it may also verify with the block of the icon its document names.
    int bIcon;
    // RestoreAndVerify's texts: its first one, a failed copy of the protected
    // and of the verification file (spelled as the log has always had them),
    // and a failed second check.
    const char* pszRestoreMsg;
    const char* apszCopyMsg[2];
    const char* pszAgainMsg;
};

// Indexed by VrfWhich.
extern const VrfPair g_aVrfPairs[VRF_PAIR_COUNT];

// The pair's check in pszFolder: its protected file against its verification
// file, with the default block, or with bWithIcon with the block of the icon
// pszIconName in pszFolder. The icon name comes from a document not trusted
// yet: only a plain file name is used (anything else counts as no icon), and
// an icon missing from pszFolder is first copied there from the backup
// folder. The checks write nothing to the log.
int VrfCheckPair(const char* pszFolder, VrfWhich eWhich, int bWithIcon, const char* pszIconName);
int CusIniVerify(const char* pszFolder);
int CusXmlVerify(const char* pszFolder, int bWithIcon, const char* pszIconName);
int UninstallIniVerify(const char* pszFolder);
int UninstallXmlVerify(const char* pszFolder);
