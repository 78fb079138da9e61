#include <cstdio>
#include <cstdlib>

#include "records/records.h"
#include "operator/operator.h"
#include "platform/platform.h"

namespace {

#define OUT_WHY_LEN 256

}  // namespace

// A listing or an answer that never reached its file is no success: the
// operator (or the script) would act on what was not there.
[[noreturn]] void QelVRXPR_Exit(int code)
{
    char why[OUT_WHY_LEN];
    if (QelVRXPR_OutFailed(why, sizeof why)) {
        (void)std::fprintf(stderr, "vrxpr: cannot write standard output: %s\n", why);
        if (code != EXIT_INTERNAL) code = EXIT_FAILURE_IO;
    }
    QelVRXPR_FreeRecords();
    QelVRXPR_EndPlatform();
    std::exit(code);
}

void QelVRXPR_ChkOutput()
{
    char why[OUT_WHY_LEN];
    if (QelVRXPR_OutFailed(why, sizeof why)) QelVRXPR_Exit(EXIT_FAILURE_IO);
}
