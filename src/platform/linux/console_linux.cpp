// The user's language from the POSIX locale variables, and standard output
// in the locale's character set.
#include "platform/linux/pf_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

#define PF_CHARSET_LEN 64
#define PF_CONV_CHUNK 4096

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
std::string g_PfLocalText;

// A byte the converter rejects is kept as it stands: the text still reaches
// the operator.
void QelVRXPR_Convert(iconv_t cd, const char* text, size_t len, std::string* pOut)
{
    char* in = const_cast<char*>(text);
    size_t inLeft = len;
    char chunk[PF_CONV_CHUNK];
    while (inLeft > 0) {
        char* out = chunk;
        size_t outLeft = sizeof chunk;
        size_t r = iconv(cd, &in, &inLeft, &out, &outLeft);
        int err = r == (size_t)-1 ? errno : 0;
        pOut->append(chunk, sizeof chunk - outLeft);
        if (err == EILSEQ || err == EINVAL) {
            pOut->push_back(*in);
            ++in;
            --inLeft;
            (void)iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else if (err != 0 && err != E2BIG) {
            pOut->append(in, inLeft);
            return;
        }
    }
    char* out = chunk;
    size_t outLeft = sizeof chunk;
    (void)iconv(cd, nullptr, nullptr, &out, &outLeft);
    pOut->append(chunk, sizeof chunk - outLeft);
}

}  // namespace

// A standard descriptor left closed by whoever started us would be the
// number the next open gets: a drive would then take the messages (or give
// the answers). /dev/null holds each such place; a directory when even
// that cannot be opened, since writes into it fail.
void QelVRXPR_StartPlatform()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int held = open("/dev/null", O_RDWR);
        if (held < 0) held = open("/", O_RDONLY | O_DIRECTORY);
        if (held >= 0 && held != fd) {
            (void)dup2(held, fd);
            close(held);
        }
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
    g_PfLocalText.clear();
    QelVRXPR_Convert(cd, text, len, &g_PfLocalText);
    iconv_close(cd);
    return g_PfLocalText.c_str();
}

void QelVRXPR_WriteOut(const char* text)
{
    (void)std::fputs(text, stdout);
    if (isatty(STDOUT_FILENO)) (void)std::fflush(stdout);
}

char* QelVRXPR_ReadLine(char* buf, int size)
{
    if (size <= 0) return nullptr;
    // fgets may leave a partial line behind on a read error; the caller's
    // buffer must then stay as it was.
    std::vector<char> line((size_t)size);
    if (std::fgets(line.data(), size, stdin) == nullptr) return nullptr;
    size_t len = std::strlen(line.data());
    if (len >= 2 && line[len - 1] == '\n' && line[len - 2] == '\r') {
        line[len - 2] = '\n';
        line[len - 1] = '\0';
        --len;
    }
    std::memcpy(buf, line.data(), len + 1);
    return buf;
}
