// The log folders, file stems, module names and lines that kavlalog reads
// back: the writers and the tool both use these, so a changed line changes both.
#pragma once

// Folders: the system drive's <drive>:\KavlaLog, and the fixed one of the plain log.
#define LOG_FOLDER_NAME "KavlaLog"
#define LOG_PLAIN_FOLDER "c:\\" LOG_FOLDER_NAME

// File stems, <stem>YYYYMMDDww.log: the setup program's own log, and the
// prefix of a module's log, stp_<module>. A plain log's stem is its module.
#define LOG_STEM_SETUP "setup"
#define LOG_STEM_MODULE "stp_"

// Modules: the entry's (the uninstall lock logs under it), the container
// reader's and writer's, and the administrator check's plain log.
#define LOG_MODULE_SETUP "setup"
#define LOG_MODULE_UNPACK "UtlFile"
#define LOG_MODULE_PACK "UtlPack"
#define LOG_MODULE_ADMIN "IsCurUserAdmin"

// A detail line's mark, after the time stamp.
#define LOGLINE_DETAIL "[DTL] "

// The entry, in the setup log. The free-space line, "The <drive> free space
// is <n>M.", is the first line of every run that passed the administrator check.
#define LOGLINE_FREE_SPACE "The "
#define LOGLINE_FREE_SPACE_IS " free space is "
#define LOGLINE_FREE_SPACE_END "M."
#define LOGLINE_BEGIN_INSTALL "Begin UnpackAndSetup"
#define LOGLINE_INSTALL_FAILED "install failed with Err "  // then the number and "."
#define LOGLINE_EXIT_MAIN "Exit main"

// The install driver, in the setup log: the MSI-based upgrade, the 7-Zip
// command (<W>\7za.exe x "<archive>" ..., the program's name in payload.h)
// followed by 7-Zip's output, and the installer's looks until it showed up
// and until it ended.
#define LOGLINE_MSI_INSTALL "msi install."
#define LOGLINE_7ZIP_EXTRACT " x \""
#define LOGLINE_7ZIP_OK "Everything is Ok"
#define LOGLINE_INSTALLER_STARTED "is-stp started at "  // then the count of looks
#define LOGLINE_INSTALLER_ENDED "is-stp ended at "      // then the count of looks and "."

// The uninstall lock, in its module's log: every line starts with the mark;
// the two texts after it that mean the password dialog is shown.
#define LOGLINE_PROMPT "IsUninstallPrompt:"
#define LOGLINE_PROMPT_NEEDED "Need prompt uninstall password Dlg"
#define LOGLINE_PROMPT_OLD_VERSION "Get Version from old reg succ, return true."

// The container reader's arguments, in its module's log.
#define LOGLINE_UNPACK_SRC_PATH "utl_FileUnpack: pszSrcPath = "
#define LOGLINE_UNPACK_SRC_FILE " pszSrcFile = "
#define LOGLINE_UNPACK_DST_PATH " pszDstPath = "
