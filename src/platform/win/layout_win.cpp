// The request block handed to IOCTL_SCSI_PASS_THROUGH_DIRECT: the sense
// area follows the pass-through structure and one 32-bit filler, and
// SenseInfoOffset is taken from it, so the layout must not drift.
#include <cstddef>

#include "platform/platform.h"
#include "pr/pr.h"

static_assert(offsetof(PR_REQUEST, Sptd) == 0, "request block layout");
static_assert(offsetof(PR_REQUEST, Filler) == sizeof(SCSI_PASS_THROUGH_DIRECT),
              "request block layout");
static_assert(offsetof(PR_REQUEST, SenseBuf) == sizeof(SCSI_PASS_THROUGH_DIRECT) + 4,
              "request block layout");
static_assert(sizeof(PR_REQUEST::SenseBuf) == 32, "request block layout");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PR_REQUEST) == 80, "32-bit request block");
static_assert(offsetof(PR_REQUEST, SenseBuf) == 48, "32-bit request block");
#else
static_assert(sizeof(PR_REQUEST) == 96, "64-bit request block");
static_assert(offsetof(PR_REQUEST, SenseBuf) == 60, "64-bit request block");
#endif
static_assert(alignof(PR_DATA) == PR_DATA_ALIGN, "pass-through data alignment");
