// Test helper: withcp CP PROGRAM [ARG...] sets the console's output code
// page to CP, runs PROGRAM on the same console with the arguments (passed
// on as UTF-16, so that none is lost to the ANSI code page) and ends with
// its exit code. Not named con.exe: CON is a device name.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: withcp CP PROGRAM [ARG...]\n");
        return 120;
    }
    UINT cp = (UINT)wcstoul(argv[1], NULL, 10);
    if (!SetConsoleOutputCP(cp)) {
        fprintf(stderr, "withcp: SetConsoleOutputCP(%u) failed, error %lu\n", cp, GetLastError());
        return 121;
    }
    if (GetConsoleOutputCP() != cp) {
        fprintf(stderr, "withcp: the console kept code page %u\n", GetConsoleOutputCP());
        return 122;
    }
    size_t len = 1;
    for (int i = 2; i < argc; ++i) len += wcslen(argv[i]) + 3;
    wchar_t* line = calloc(len, sizeof(wchar_t));
    if (line == NULL) return 123;
    for (int i = 2; i < argc; ++i) {
        if (i > 2) wcscat(line, L" ");
        wcscat(line, L"\"");
        wcscat(line, argv[i]);
        wcscat(line, L"\"");
    }
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessW(NULL, line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "withcp: cannot start %ls, error %lu\n", argv[2], GetLastError());
        return 124;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 125;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    free(line);
    return (int)code;
}
