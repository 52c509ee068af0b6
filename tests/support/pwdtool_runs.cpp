#include "pwdtool_runs.h"

namespace kt {

namespace {

void CloseH(HANDLE* ph)
{
    if (*ph && *ph != INVALID_HANDLE_VALUE)
        CloseHandle(*ph);
    *ph = NULL;
}

HANDLE OpenInheritable(const std::string& strPath, bool bWrite)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    return CreateFileA(strPath.c_str(), bWrite ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &sa, bWrite ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

std::string WithoutCr(const std::string& str)
{
    std::string strOut;
    for (char c : str) {
        if (c != '\r')
            strOut += c;
    }
    return strOut;
}

} // namespace

ToolRun RunPwdTool(const std::string& strArgs, const std::string& strInput, bool bPipe)
{
    ToolRun run;
    const std::string strDir = NewTempFolder("pwdtool");
    HANDLE hIn = NULL, hInWrite = NULL, hOut = NULL, hErr = NULL;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    if (bPipe) {
        CreatePipe(&hIn, &hInWrite, &sa, 0);
        SetHandleInformation(hInWrite, HANDLE_FLAG_INHERIT, 0);
    } else {
        WriteBytes(strDir + "\\in.txt", strInput);
        hIn = OpenInheritable(strDir + "\\in.txt", false);
    }
    hOut = OpenInheritable(strDir + "\\out.txt", true);
    hErr = OpenInheritable(strDir + "\\err.txt", true);

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = hIn;
    si.hStdOutput = hOut;
    si.hStdError = hErr;
    PROCESS_INFORMATION pi = {};
    std::string strCmd = "\"" + DistPath("kavlapwd.exe") + "\" " + strArgs;
    if (CreateProcessA(NULL, &strCmd[0], NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &si, &pi)) {
        if (bPipe) {
            DWORD dwWritten = 0;
            WriteFile(hInWrite, strInput.data(), (DWORD)strInput.size(), &dwWritten, NULL);
            CloseH(&hInWrite);
        }
        if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) {
            DWORD dwExit = 0;
            GetExitCodeProcess(pi.hProcess, &dwExit);
            run.nExit = (int)dwExit;
        } else {
            TerminateProcess(pi.hProcess, 99);
        }
        CloseH(&pi.hProcess);
        CloseH(&pi.hThread);
    }
    CloseH(&hInWrite);
    CloseH(&hIn);
    CloseH(&hOut);
    CloseH(&hErr);
    run.strOut = WithoutCr(ReadBytes(strDir + "\\out.txt"));
    run.strErr = WithoutCr(ReadBytes(strDir + "\\err.txt"));
    return run;
}

} // namespace kt
