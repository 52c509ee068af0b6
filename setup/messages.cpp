// Every user-visible text, English and Simplified Chinese. The Chinese texts
// are code page 936 (GBK) bytes, written as octal escapes so that the bytes
// do not depend on the encoding the compiler reads the source in; the UTF-8
// comment beside each shows the text.
#include "messages.h"
#include <windows.h>

namespace {

const TextPair g_aTexts[TXT_COUNT] = {
    /* TXT_CAPTION */ {"Kavla Setup",
     /* 安装Kavla智能客户端 */ "\260\262\327\260Kavla\326\307\304\334\277\315\273\247\266\313"},
    /* TXT_PREV_INSTANCE */ {"A previous instance is still running. \nPlease try it later.",
     /* 有正在运行的客户端安装程序，请稍候再试。 */ "\323\320\325\375\324\332\324\313\320\320\265\304\277\315\273\247\266\313\260\262\327\260\263\314\320\362\243\254\307\353\311\324\272\362\324\331\312\324\241\243"},
    /* TXT_NOT_ADMIN */ {"You do not have administrative privileges on this computer, the program can not be installed!",
     /* 您没有管理员权限，无法进行安装操作！ */ "\304\372\303\273\323\320\271\334\300\355\324\261\310\250\317\336\243\254\316\336\267\250\275\370\320\320\260\262\327\260\262\331\327\367\243\241"},
    /* TXT_NO_SPACE */ {"The sys disk must have at least 300M free space to finish the setup.",
     /* 系统盘空间不足，安装要求系统盘必须有300M以上的空间。 */ "\317\265\315\263\305\314\277\325\274\344\262\273\327\343\243\254\260\262\327\260\322\252\307\363\317\265\315\263\305\314\261\330\320\353\323\320300M\322\324\311\317\265\304\277\325\274\344\241\243"},
    /* TXT_UPDATING */ {"A previous instance is still running. \nPlease try it later.",
     /* 客户端正在升级定制信息，请稍后再试。 */ "\277\315\273\247\266\313\325\375\324\332\311\375\274\266\266\250\326\306\320\305\317\242\243\254\307\353\311\324\272\363\324\331\312\324\241\243"},
    /* TXT_PWD_TITLE */ {"Uninstall Password",
     /* 卸载密码 */ "\320\266\324\330\303\334\302\353"},
    /* TXT_PWD_PROMPT */ {"The client is protected by a password. Please input the password to proceed with the client upgrade.",
     /* 已安装的客户端受密码保护，需要输入卸载密码才能进行升级。请输入密码： */ "\322\321\260\262\327\260\265\304\277\315\273\247\266\313\312\334\303\334\302\353\261\243\273\244\243\254\320\350\322\252\312\344\310\353\320\266\324\330\303\334\302\353\262\305\304\334\275\370\320\320\311\375\274\266\241\243\307\353\312\344\310\353\303\334\302\353\243\272"},
    /* TXT_PWD_OK */ {"OK",
     /* 确定 */ "\310\267\266\250"},
    /* TXT_PWD_CANCEL */ {"Cancel",
     /* 取消 */ "\310\241\317\373"},
    /* TXT_PWD_RETRY */ {"Wrong password. Please try again:",
     /* 密码错误，请重新输入： */ "\303\334\302\353\264\355\316\363\243\254\307\353\326\330\320\302\312\344\310\353\243\272"},
    /* TXT_PWD_ABORT */ {"You have input wrong passwords for the maximum number of times. The installation wizard is about to abort...",
     /* 超过最大密码错误重试次数，安装程序即将退出。 */ "\263\254\271\375\327\356\264\363\303\334\302\353\264\355\316\363\326\330\312\324\264\316\312\375\243\254\260\262\327\260\263\314\320\362\274\264\275\253\315\313\263\366\241\243"},
    /* TXT_PWD_ABORT_CAPTION */ {"Wrong Password",
     /* 密码错误 */ "\303\334\302\353\264\355\316\363"},
};

} // namespace

int IsChineseSystem(void)
{
    return GetSystemDefaultLangID() == 2052;
}

const char* PickText(const TextPair& text)
{
    return IsChineseSystem() ? text.pszChinese : text.pszEnglish;
}

const char* GetUserText(UserText eText)
{
    if (eText < 0 || eText >= TXT_COUNT)
        return "";
    return PickText(g_aTexts[eText]);
}

void ShowRefusal(UserText eText)
{
    MessageBoxA(NULL, GetUserText(eText), GetUserText(TXT_CAPTION), MB_ICONWARNING | MB_OK);
}
