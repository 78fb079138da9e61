#include <cstdlib>

#include "records/records.h"
#include "operator/operator.h"
#include "platform/platform.h"

[[noreturn]] void QelVRXPR_Exit(int code)
{
    QelVRXPR_FreeRecords();
    QelVRXPR_EndPlatform();
    std::exit(code);
}
