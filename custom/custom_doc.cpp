// Readers of the customisation documents: KavlaCustom.xml (sections
// functions and logoOptions) and KavlaUninstallInfo.xml (uninstallInfo).
// A missing document is a failure; a missing section leaves the record's
// initial values; a missing value inside a present section reads as 0 or
// empty, whatever the record held.
#include <string.h>
#include "cipher.h"
#include "custom_doc.h"
#include "xml_parser.h"

// Stored password texts are read up to this many bytes and decrypted into a
// buffer of the same size.
#define CUS_PWD_TEXT_LIMIT 128
#define CUS_EXTEND_PRO_LIMIT 32
#define CUS_NAME_LIMIT 260

int CCustomXmlParse::ReadFunctions(const char* pszPath, CusFunctionsInfo& info)
{
    if (!LoadSection(pszPath, "functions"))
        return 0;
    if (m_pCurElem) {
        GetUIntValue("renameConn", &info.renameConn);
        GetUIntValue("arp", &info.arp);
        GetUIntValue("dhcp", &info.dhcp);
        GetUIntValue("wanControl", &info.wanControl);
        GetUIntValue("acl", &info.acl);
        GetUIntValue("uninstall", &info.uninstall);
        GetUIntValue("passwordProtection", &info.passwordProtection);
        GetUIntValue("remindPopSecUI", &info.remindPopSecUI);
        GetUIntValue("AutoHideSecUI", &info.AutoHideSecUI);
        GetUIntValue("blackBox", &info.blackBox);
        GetUIntValue("userFromCert", &info.userFromCert);
        GetUIntValue("disableExit", &info.disableExit);
        GetUIntValue("patchARV", &info.patchARV);
        GetUIntValue("autoReboot", &info.autoReboot);
        GetUIntValue("url", &info.url);
        GetUIntValue("disablePap", &info.disablePap);
        GetUIntValue("ssid", &info.ssid);
        GetUIntValue("forbidMdyIp", &info.forbidMdyIp);
        GetUIntValue("drvErr", &info.drvErr);
        GetUIntValue("dynamicPwdVerify", &info.dynamicPwdVerify);
        GetUIntValue("userNameLenFromCert", &info.userNameLenFromCert);
        GetStringValue("userFromExtendPro", info.userFromExtendPro, CUS_EXTEND_PRO_LIMIT);
        GetUIntValue("dynamicVifInfo", &info.dynamicVifInfo);
        GetUIntValue("macsec", &info.macsec);
        GetUIntValue("msgAuthOpt", &info.msgAuthOpt);
        GetUIntValue("hideRestart", &info.hideRestart);
        GetUIntValue("iESiOSDK", &info.iESiOSDK);
        // The message-authentication details mean something only when the
        // option is on; otherwise they keep their initial values.
        if (info.msgAuthOpt != 0) {
            GetUIntValue("msgAuthInfo", &info.msgAuthInfo);
            GetStringValue("msgAuthServIP", info.msgAuthServIP, 0);
            GetUIntValue("msgAuthServPort", &info.msgAuthServPort);
        }

        // The stored text is Base64, so the code-page conversion leaves it as
        // it is. Its result code is not examined: a text the cipher refuses
        // leaves the buffer zero and the password empty.
        std::string strStored;
        BYTE abPlain[CUS_PWD_TEXT_LIMIT];
        DWORD dwLen = sizeof(abPlain);
        memset(abPlain, 0, sizeof(abPlain));
        GetStringValue("uninstallPassword", strStored, CUS_PWD_TEXT_LIMIT);
        DecryptPassword(abPlain, &dwLen, strStored.c_str());
        // A full buffer has no terminator: never read past its end.
        info.uninstallPassword.assign((const char*)abPlain, strnlen((const char*)abPlain, sizeof(abPlain)));
        memset(abPlain, 0, sizeof(abPlain));
    }
    return 1;
}

int CCustomXmlParse::ReadLogoOptions(const char* pszPath, CusLogoInfo& info)
{
    if (!LoadSection(pszPath, "logoOptions"))
        return 0;
    if (m_pCurElem) {
        GetIntValue("customIcon", &info.customIcon);
        GetStringValue("CusIconName", info.CusIconName, CUS_NAME_LIMIT);
        GetStringValue("subAboutInfo", info.subAboutInfo, 0);
        GetStringValue("subTitle", info.subTitle, CUS_NAME_LIMIT);
        GetIntValue("bAddTrayIcon", &info.bAddTrayIcon);
        GetIntValue("bHideIcon", &info.bHideIcon);
        GetIntValue("bHideShortcut", &info.bHideShortcut);
    }
    return 1;
}

int CCustomXmlParse::ReadUninstallInfo(const char* pszPath, CusUninstallInfo& info)
{
    if (!LoadSection(pszPath, "uninstallInfo"))
        return 0;
    if (m_pCurElem) {
        GetStringValue("uninstallPass", info.uninstallPass, CUS_PWD_TEXT_LIMIT);
        GetUIntValue("uninstall", &info.uninstall);
    }
    return 1;
}
