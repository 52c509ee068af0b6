// Records of the customisation documents KavlaCustom.xml (sections functions
// and logoOptions) and KavlaUninstallInfo.xml (section uninstallInfo).
#pragma once
#include <string>

#define CUSTOM_TEMPLATE "<?xml version=\"1.0\" encoding=\"UTF-8\"?><msg><content></content></msg>"

struct CusFunctionsInfo {
    unsigned int renameConn = 0, arp = 0, dhcp = 0, wanControl = 0, acl = 0, uninstall = 0,
                 remindPopSecUI = 0, AutoHideSecUI = 0, userFromCert = 0, blackBox = 0,
                 disableExit = 0, patchARV = 0, url = 0, autoReboot = 0, disablePap = 0, ssid = 0,
                 forbidMdyIp = 0, drvErr = 0, dynamicPwdVerify = 0, msgAuthOpt = 0,
                 hideRestart = 0, macsec = 0, iESiOSDK = 0, passwordProtection = 0;
    std::string uninstallPassword;          // decrypted
    unsigned int userNameLenFromCert = 0;
    std::string userFromExtendPro;
    unsigned int dynamicVifInfo = 1;
    unsigned int msgAuthInfo = 1;
    std::string msgAuthServIP;
    unsigned int msgAuthServPort = 0;
};

struct CusLogoInfo {
    int customIcon = 0;
    std::string CusIconName;
    std::string subAboutInfo;
    std::string subTitle;
    int bAddTrayIcon = 0, bHideIcon = 0, bHideShortcut = 0;
};

struct CusUninstallInfo {
    unsigned int uninstall = 0;
    std::string uninstallPass;              // stored (encrypted) text
};
