// The user's language from the POSIX locale variables, and standard output
// in the locale's character set.
#include "platform/linux/pf_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

namespace {

#define PF_CHARSET_LEN 64
#define PF_CONV_CHUNK 4096
#define PF_LINE_LEN 4096

// The variable that decides LC_MESSAGES, by the POSIX precedence.
const char* QelVRXPR_GetLocaleValue()
{
    static const char* const names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (const char* n : names) {
        const char* v = std::getenv(n);
        if (v != nullptr && v[0] != '\0') return v;
    }
    return "";
}

bool QelVRXPR_IsJapaneseLocale(const char* value)
{
    return value[0] == 'j' && value[1] == 'a';
}

// "ja_JP.UTF-8@mod" names "UTF-8"; no dot, no character set.
void QelVRXPR_GetCharset(const char* value, char* out, size_t size)
{
    out[0] = '\0';
    const char* dot = std::strchr(value, '.');
    if (dot == nullptr) return;
    size_t len = std::strcspn(dot + 1, "@");
    if (len >= size) return;
    std::memcpy(out, dot + 1, len);
    out[len] = '\0';
}

// Compares ignoring case, '-' and '_' ("Shift_JIS", "shiftjis", "SJIS").
bool QelVRXPR_SameCharset(const char* a, const char* b)
{
    for (;;) {
        while (*a == '-' || *a == '_') ++a;
        while (*b == '-' || *b == '_') ++b;
        char ca = *a, cb = *b;
        if (ca >= 'A' && ca <= 'Z') ca = (char)(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = (char)(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == '\0') return true;
        ++a;
        ++b;
    }
}

bool QelVRXPR_IsCp932Charset(const char* cs)
{
    static const char* const names[] = {"SJIS", "Shift_JIS", "CP932", "Windows-31J", "MS_Kanji"};
    for (const char* n : names)
        if (QelVRXPR_SameCharset(cs, n)) return true;
    return false;
}

bool QelVRXPR_IsAscii(const char* text, size_t len)
{
    for (size_t i = 0; i < len; ++i)
        if ((unsigned char)text[i] >= 0x80) return false;
    return true;
}

// The converted catalogue text of the latest call.
char* g_PfLocalText;
size_t g_PfLocalLen;
size_t g_PfLocalCap;

// Appends to the converted text; false when memory runs out.
bool QelVRXPR_AppendLocal(const char* bytes, size_t len)
{
    if (g_PfLocalLen + len + 1 > g_PfLocalCap) {
        size_t cap = (g_PfLocalLen + len + 1) * 2;
        char* grown = static_cast<char*>(std::realloc(g_PfLocalText, cap));
        if (grown == nullptr) return false;
        g_PfLocalText = grown;
        g_PfLocalCap = cap;
    }
    std::memcpy(g_PfLocalText + g_PfLocalLen, bytes, len);
    g_PfLocalLen += len;
    g_PfLocalText[g_PfLocalLen] = '\0';
    return true;
}

// A byte the converter rejects is kept as it stands: the text still reaches
// the operator. False when memory runs out.
bool QelVRXPR_Convert(iconv_t cd, const char* text, size_t len)
{
    char* in = const_cast<char*>(text);
    size_t inLeft = len;
    char chunk[PF_CONV_CHUNK];
    while (inLeft > 0) {
        char* out = chunk;
        size_t outLeft = sizeof chunk;
        size_t r = iconv(cd, &in, &inLeft, &out, &outLeft);
        int err = r == (size_t)-1 ? errno : 0;
        if (!QelVRXPR_AppendLocal(chunk, sizeof chunk - outLeft)) return false;
        if (err == EILSEQ || err == EINVAL) {
            if (!QelVRXPR_AppendLocal(in, 1)) return false;
            ++in;
            --inLeft;
            (void)iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else if (err != 0 && err != E2BIG) {
            return QelVRXPR_AppendLocal(in, inLeft);
        }
    }
    char* out = chunk;
    size_t outLeft = sizeof chunk;
    (void)iconv(cd, nullptr, nullptr, &out, &outLeft);
    return QelVRXPR_AppendLocal(chunk, sizeof chunk - outLeft);
}

// The first failure to write standard output, as errno gave it; 0 when
// none. A place held for a closed descriptor was never meant to be read.
int g_PfOutErrno;
bool g_PfOutHeld;

void QelVRXPR_NoteOut(int result)
{
    if (result == EOF && g_PfOutErrno == 0) g_PfOutErrno = errno != 0 ? errno : EIO;
}

}  // namespace

// A standard descriptor left closed by whoever started us would be the
// number the next open gets: a drive would then take the messages (or give
// the answers). /dev/null holds each such place; a directory when even
// that cannot be opened, since writes into it fail. A reader that goes away
// (vrxpr -d | head) must not kill the run: what is written is not checked,
// and the exit code is the run's own, after a clear as much as anywhere.
void QelVRXPR_StartPlatform()
{
    (void)std::signal(SIGPIPE, SIG_IGN);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int held = open("/dev/null", O_RDWR);
        if (held < 0) held = open("/", O_RDONLY | O_DIRECTORY);
        if (held >= 0 && held != fd) {
            (void)dup2(held, fd);
            close(held);
        }
        if (fd == STDOUT_FILENO) g_PfOutHeld = true;
    }
}

void QelVRXPR_EndPlatform()
{
    (void)std::fflush(stdout);
}

int QelVRXPR_GetSysLangName(char* buf, size_t size)
{
    const char* name = QelVRXPR_IsJapaneseLocale(QelVRXPR_GetLocaleValue()) ? "Japanese" : "English";
    if (size <= std::strlen(name)) return 0;
    std::strcpy(buf, name);
    return 1;
}

const char* QelVRXPR_LocalText(const char* text)
{
    size_t len = std::strlen(text);
    const char* value = QelVRXPR_GetLocaleValue();
    char cs[PF_CHARSET_LEN];
    QelVRXPR_GetCharset(value, cs, sizeof cs);
    // Only the Japanese texts are code page 932; English ones are ASCII.
    if (QelVRXPR_IsAscii(text, len) || !QelVRXPR_IsJapaneseLocale(value) ||
        QelVRXPR_IsCp932Charset(cs))
        return text;
    iconv_t cd = (iconv_t)-1;
    if (cs[0] != '\0') cd = iconv_open(cs, "CP932");
    if (cd == (iconv_t)-1) cd = iconv_open("UTF-8", "CP932");
    if (cd == (iconv_t)-1) return text;
    g_PfLocalLen = 0;
    bool converted = QelVRXPR_Convert(cd, text, len);
    iconv_close(cd);
    // Without memory for the conversion the text goes out as it stands.
    return converted ? g_PfLocalText : text;
}

void QelVRXPR_WriteOut(const char* text)
{
    errno = 0;
    QelVRXPR_NoteOut(std::fputs(text, stdout));
    if (isatty(STDOUT_FILENO)) QelVRXPR_NoteOut(std::fflush(stdout));
}

int QelVRXPR_OutFailed(char* why, size_t size)
{
    errno = 0;
    QelVRXPR_NoteOut(std::fflush(stdout));
    if (g_PfOutErrno == 0 || g_PfOutErrno == EPIPE || g_PfOutHeld) return 0;
    (void)std::snprintf(why, size, "%s", std::strerror(g_PfOutErrno));
    return 1;
}

char* QelVRXPR_ReadLine(char* buf, int size)
{
    errno = 0;
    QelVRXPR_NoteOut(std::fflush(stdout));
    if (size <= 0) return nullptr;
    // fgets may leave a partial line behind on a read error; the caller's
    // buffer must then stay as it was.
    char local[PF_LINE_LEN];
    char* line = size <= PF_LINE_LEN ? local : static_cast<char*>(std::malloc((size_t)size));
    if (line == nullptr) return nullptr;
    char* got = std::fgets(line, size, stdin);
    if (got != nullptr) {
        size_t len = std::strlen(line);
        if (len >= 2 && line[len - 1] == '\n' && line[len - 2] == '\r') {
            line[len - 2] = '\n';
            line[len - 1] = '\0';
            --len;
        }
        std::memcpy(buf, line, len + 1);
    }
    if (line != local) std::free(line);
    return got != nullptr ? buf : nullptr;
}
