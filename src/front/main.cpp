#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "front/front.h"
#include "operator/msg.h"
#include "operator/operator.h"
#include "platform/platform.h"
#include "pr/pr.h"

namespace {

#define ECHO_LEN 1024
#define FLAG_REPEATED 8u

struct OPTION_DEF {
    const char* Text;
    unsigned Flag;
};

const OPTION_DEF g_OptionTable[] = {
    {"-c", 1u},
    {"-d", 2u},
    {"-h", 4u},
};

void AppendEcho(char* echo, const char* arg)
{
    size_t used = std::strlen(echo);
    size_t len = std::strlen(arg);
    if (used + len >= ECHO_LEN - 1) return;
    if (used != 0) echo[used++] = ' ';
    std::memcpy(echo + used, arg, len + 1);
}

[[noreturn]] void ExecDescription()
{
    QelVRXPR_PutMsg(MSG_DESCRIPTION);
    // One character, as getchar reads it, through the platform: the text
    // is out first even on a pipe, and the simulated storage lets other
    // runs in while the operator reads.
    char key[2];
    QelVRXPR_ChkOutput();
    (void)QelVRXPR_ReadLine(key, sizeof key);
    QelVRXPR_Exit(EXIT_DONE);
}

}  // namespace

[[noreturn]] void QelVRXPR_Main(int argc, char** argv)
{
    unsigned flags = 0;
    char echo[ECHO_LEN] = "";

    for (int i = 1; i < argc; ++i) {
        bool matched = false;
        for (unsigned j = 0; j < sizeof g_OptionTable / sizeof g_OptionTable[0]; ++j) {
            if (!QelVRXPR_EqualNoCase(argv[i], g_OptionTable[j].Text)) continue;
            if (flags & (1u << j)) flags |= FLAG_REPEATED;
            flags |= g_OptionTable[j].Flag;
            AppendEcho(echo, argv[i]);
            matched = true;
            break;
        }
        if (!matched) {
            QelVRXPR_PutMsg(MSG_PARAM_INVALID, QelVRXPR_LocalArg(argv[i]));
            QelVRXPR_Exit(EXIT_USAGE);
        }
    }

    switch (flags) {
    case 0:
        ExecDescription();
    case 1:
        QelVRXPR_ExecClear();
    case 2:
        QelVRXPR_ExecDisplay();
    case 4:
        QelVRXPR_PutMsg(MSG_HELP);
        QelVRXPR_Exit(EXIT_DONE);
    default:
        QelVRXPR_PutMsg(MSG_PARAM_CONFLICT, echo);
        QelVRXPR_Exit(EXIT_USAGE);
    }
}
