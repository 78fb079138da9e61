// Standard input and output on Windows. A console gets every text through
// WriteConsoleW, so that the code page 932 catalogue reads right whatever
// the console's output code page; a file or a pipe gets the bytes the C
// runtime's text mode writes (code page 932, CR LF), which scripts read.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <io.h>

namespace {

#define PF_CATALOGUE_CP 932
// Characters per WriteConsoleW call: old consoles refuse large writes.
#define PF_CONSOLE_CHUNK 4096

// A growing buffer that lives for the whole process.
struct PF_AREA {
    char* pText;
    size_t Cap;
};

struct PF_WIDE_AREA {
    wchar_t* pText;
    size_t Cap;
};

int g_PfConsoleOut = -1;  // -1 until asked, then 0 or 1
PF_AREA g_PfCatalogueText;
PF_AREA g_PfArgText;
PF_WIDE_AREA g_PfConvWide;
PF_WIDE_AREA g_PfOutWide;

bool QelVRXPR_IsConsoleOut()
{
    if (g_PfConsoleOut < 0) {
        DWORD mode = 0;
        g_PfConsoleOut = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ? 1 : 0;
    }
    return g_PfConsoleOut == 1;
}

bool QelVRXPR_IsAsciiText(const char* text)
{
    for (; *text != '\0'; ++text)
        if ((unsigned char)*text >= 0x80) return false;
    return true;
}

bool QelVRXPR_GrowArea(PF_AREA* a, size_t need)
{
    if (need <= a->Cap) return true;
    char* grown = static_cast<char*>(std::realloc(a->pText, need));
    if (grown == nullptr) return false;
    a->pText = grown;
    a->Cap = need;
    return true;
}

bool QelVRXPR_GrowWideArea(PF_WIDE_AREA* a, size_t need)
{
    if (need <= a->Cap) return true;
    wchar_t* grown = static_cast<wchar_t*>(std::realloc(a->pText, need * sizeof(wchar_t)));
    if (grown == nullptr) return false;
    a->pText = grown;
    a->Cap = need;
    return true;
}

// The text in UTF-16, zero included, into *w; its length without the zero,
// or -1 when it cannot be converted or memory runs out.
int QelVRXPR_WidenText(UINT cp, const char* text, PF_WIDE_AREA* w)
{
    int n = MultiByteToWideChar(cp, 0, text, -1, nullptr, 0);
    if (n <= 0 || !QelVRXPR_GrowWideArea(w, (size_t)n)) return -1;
    if (MultiByteToWideChar(cp, 0, text, -1, w->pText, n) != n) return -1;
    return n - 1;
}

// The text of code page cp in UTF-8, or the text itself when it cannot be
// converted: it still reaches the operator.
const char* QelVRXPR_ToUtf8(UINT cp, const char* text, PF_AREA* out)
{
    if (QelVRXPR_IsAsciiText(text) || QelVRXPR_WidenText(cp, text, &g_PfConvWide) < 0)
        return text;
    int n = WideCharToMultiByte(CP_UTF8, 0, g_PfConvWide.pText, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0 || !QelVRXPR_GrowArea(out, (size_t)n)) return text;
    if (WideCharToMultiByte(CP_UTF8, 0, g_PfConvWide.pText, -1, out->pText, n, nullptr, nullptr) !=
        n)
        return text;
    return out->pText;
}

// UTF-8 text to the console with "\n" as "\r\n", the line ends text mode
// gives it. False when it cannot be converted or memory runs out.
bool QelVRXPR_WriteConsoleText(const char* text)
{
    int len = QelVRXPR_WidenText(CP_UTF8, text, &g_PfOutWide);
    if (len < 0) return false;
    size_t lines = 0;
    for (int i = 0; i < len; ++i)
        if (g_PfOutWide.pText[i] == L'\n') ++lines;
    size_t total = (size_t)len + lines;
    if (!QelVRXPR_GrowWideArea(&g_PfOutWide, total + 1)) return false;
    wchar_t* w = g_PfOutWide.pText;
    for (size_t from = (size_t)len, to = total; from > 0;) {
        w[--to] = w[--from];
        if (w[from] == L'\n') w[--to] = L'\r';
    }
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    size_t done = 0;
    while (done < total) {
        DWORD chunk = (DWORD)(total - done < PF_CONSOLE_CHUNK ? total - done : PF_CONSOLE_CHUNK);
        // A surrogate pair stays in one write.
        if (chunk > 1 && done + chunk < total && w[done + chunk - 1] >= 0xD800 &&
            w[done + chunk - 1] <= 0xDBFF)
            --chunk;
        DWORD written = 0;
        if (!WriteConsoleW(h, w + done, chunk, &written, nullptr) || written == 0) break;
        done += written;
    }
    return true;
}

// The first failure to write standard output: the C runtime's errno and
// the system error under it, or 0 when none.
int g_PfOutErrno;
unsigned long g_PfOutDosErr;

void QelVRXPR_NoteOut(int result)
{
    if (result != EOF || g_PfOutErrno != 0) return;
    g_PfOutErrno = errno != 0 ? errno : EIO;
    g_PfOutDosErr = _doserrno;
}

// Before each write: what it leaves in these is its own.
void QelVRXPR_ClearErrno()
{
    errno = 0;
    _doserrno = 0;
}

}  // namespace

// On a console every text goes out as UTF-8 until WriteOut; elsewhere the
// catalogue's code page 932 bytes are what scripts expect.
const char* QelVRXPR_LocalText(const char* text)
{
    if (!QelVRXPR_IsConsoleOut()) return text;
    return QelVRXPR_ToUtf8(PF_CATALOGUE_CP, text, &g_PfCatalogueText);
}

// The C runtime gives the command line in the ANSI code page, which need
// not be 932: on a console the argument is turned into UTF-8 beside the
// catalogue text; in a file it stays as typed.
const char* QelVRXPR_LocalArg(const char* arg)
{
    if (!QelVRXPR_IsConsoleOut()) return arg;
    return QelVRXPR_ToUtf8(CP_ACP, arg, &g_PfArgText);
}

void QelVRXPR_WriteOut(const char* text)
{
    if (QelVRXPR_IsConsoleOut()) {
        std::fflush(stdout);
        if (QelVRXPR_WriteConsoleText(text)) return;
    }
    // Text mode turns "\n" into "\r\n"; code page 932 bytes pass unchanged.
    QelVRXPR_ClearErrno();
    QelVRXPR_NoteOut(std::fputs(text, stdout));
    if (_isatty(_fileno(stdout))) {
        QelVRXPR_NoteOut(std::fflush(stdout));
    }
}

// A pipe whose reader went away fails with ERROR_NO_DATA (Wine:
// ERROR_PIPE_NOT_CONNECTED) or ERROR_BROKEN_PIPE, which the runtime may not
// map to EPIPE.
int QelVRXPR_OutFailed(char* why, size_t size)
{
    QelVRXPR_ClearErrno();
    QelVRXPR_NoteOut(std::fflush(stdout));
    if (g_PfOutErrno == 0 || g_PfOutErrno == EPIPE || g_PfOutDosErr == ERROR_NO_DATA ||
        g_PfOutDosErr == ERROR_PIPE_NOT_CONNECTED || g_PfOutDosErr == ERROR_BROKEN_PIPE)
        return 0;
    if (g_PfOutDosErr != 0)
        (void)std::snprintf(why, size, "%s (Windows error %lu)", std::strerror(g_PfOutErrno),
                            g_PfOutDosErr);
    else
        (void)std::snprintf(why, size, "%s", std::strerror(g_PfOutErrno));
    return 1;
}

char* QelVRXPR_ReadLine(char* buf, int size)
{
    // A pipe or a file keeps the question in the runtime's buffer otherwise.
    QelVRXPR_ClearErrno();
    QelVRXPR_NoteOut(std::fflush(stdout));
    // Text mode already drops the carriage return before the line feed.
    return std::fgets(buf, size, stdin);
}
