// Running the real Setup.exe and reading its refusal message boxes.
#pragma once
#include "testutil.h"
#include <string>

namespace kt {

struct Box {
    bool bFound = false;
    std::string strCaption;
    std::string strText;
    bool bWarningIcon = false;
};

// Waits for a message box of the process, reads it, presses OK and waits for
// the process to end (its exit code in *pnExit when given).
Box ReadAndConfirmBox(Proc& proc, DWORD dwTimeoutMs, int* pnExit = nullptr);

// Starts a copy of the sleeper under the given file name; stays 60 s.
Proc StartNamedSleeper(const std::string& strFileName);

// The English and Chinese texts of the entry's refusals, as the program shows them.
extern const char* const kPrevInstanceEn;
extern const char* const kCaptionEn;

} // namespace kt
