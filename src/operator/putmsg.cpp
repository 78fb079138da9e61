#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "operator/msg.h"
#include "platform/platform.h"

namespace {

int g_LangIndex = -1;
char g_LangName[LANG_NAME_LEN];
bool g_LangNameKnown = false;

int ChooseLang()
{
    const char* name = QelVRXPR_GetLangName();
    int i = 0;
    while (g_LangNameTable[i][0] != '\0' && !QelVRXPR_EqualNoCase(g_LangNameTable[i], name)) ++i;
    return i;
}

}  // namespace

bool QelVRXPR_EqualNoCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        unsigned char ca = (unsigned char)*a, cb = (unsigned char)*b;
        if (ca >= 'A' && ca <= 'Z') ca = (unsigned char)(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = (unsigned char)(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == '\0') return true;
    }
}

const char* QelVRXPR_GetLangName()
{
    if (!g_LangNameKnown) {
        if (!QelVRXPR_GetSysLangName(g_LangName, sizeof g_LangName)) g_LangName[0] = '\0';
        g_LangName[sizeof g_LangName - 1] = '\0';
        g_LangNameKnown = true;
    }
    return g_LangName;
}

void QelVRXPR_PutMsg(int id, ...)
{
    if (id < 0 || id >= MSG_COUNT) return;
    if (g_LangIndex < 0) g_LangIndex = ChooseLang();

    // Arguments echo what the operator typed, in the operator's own
    // character set: only the catalogue's text is converted.
    const char* format = QelVRXPR_LocalText(g_MsgText[g_LangIndex][id]);
    char buf[MSG_BUF_LEN];
    va_list ap;
    va_start(ap, id);
    int len = std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    if (len < 0) {  // a runtime that reports truncation this way
        buf[sizeof buf - 1] = '\0';
        QelVRXPR_WriteOut(buf);
        return;
    }
    if ((size_t)len < sizeof buf) {
        QelVRXPR_WriteOut(buf);
        return;
    }
    // Too long for the buffer (an echoed argument can be any length): print
    // it whole so the operator sees exactly what was rejected.
    char* big = static_cast<char*>(std::malloc((size_t)len + 1));
    if (big == nullptr) {
        QelVRXPR_WriteOut(buf);
        return;
    }
    va_start(ap, id);
    std::vsnprintf(big, (size_t)len + 1, format, ap);
    va_end(ap);
    QelVRXPR_WriteOut(big);
    std::free(big);
}
