// Every text the user sees, as English/Chinese pairs; the Chinese texts are
// code page 936 bytes. The language is chosen at the moment of showing.
#pragma once

enum UserText {
    TXT_CAPTION, TXT_PREV_INSTANCE, TXT_NOT_ADMIN, TXT_NO_SPACE, TXT_UPDATING,
    TXT_PWD_TITLE, TXT_PWD_PROMPT, TXT_PWD_OK, TXT_PWD_CANCEL, TXT_PWD_RETRY,
    TXT_PWD_ABORT, TXT_PWD_ABORT_CAPTION, TXT_COUNT
};

// An English text and its Chinese one, code page 936 bytes.
struct TextPair {
    const char* pszEnglish;
    const char* pszChinese;
};

// 1 when GetSystemDefaultLangID() is 2052 (Simplified Chinese).
int IsChineseSystem(void);
// The pair's text in the language of the system.
const char* PickText(const TextPair& text);
// The text in the language of the system, as ANSI bytes.
const char* GetUserText(UserText eText);
// Refusal message box: no owner, warning icon, OK, the program's caption.
void ShowRefusal(UserText eText);
