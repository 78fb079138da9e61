// Test-only shim preloaded into Wine in the guest (LD_PRELOAD): Wine's
// IOCTL_SCSI_GET_ADDRESS reports a disk's port as its SCSI channel + 2,
// and tcm_loop puts every LU on channel 0, so the guest's drives would all
// sit on port 2. Adding PORT_SHIFT to the channel that SCSI_IOCTL_GET_IDLUN
// answers puts them on port 12 instead, the port portdrv.sys then serves,
// as a server with more than ten SCSI ports would have it. Nothing else
// passes through here changed. Built without the C library's headers, so
// that the 32-bit build needs no 32-bit development files.
#define SCSI_IOCTL_GET_IDLUN 0x5382ul
#define PORT_SHIFT 10u
#define RTLD_NEXT ((void*)-1l)

void* dlsym(void* handle, const char* name);

typedef int (*IOCTL_FN)(int fd, unsigned long request, void* arg);

static int Shift(IOCTL_FN real, int fd, unsigned long request, void* arg)
{
    int rc = real(fd, request, arg);
    if (rc == 0 && request == SCSI_IOCTL_GET_IDLUN) {
        // id | lun << 8 | channel << 16 | host << 24
        unsigned* idlun = (unsigned*)arg;
        unsigned channel = ((idlun[0] >> 16) & 0xffu) + PORT_SHIFT;
        idlun[0] = (idlun[0] & 0xff00ffffu) | (channel & 0xffu) << 16;
    }
    return rc;
}

int ioctl(int fd, unsigned long request, void* arg)
{
    static IOCTL_FN real;
    if (real == 0) real = (IOCTL_FN)dlsym(RTLD_NEXT, "ioctl");
    return Shift(real, fd, request, arg);
}

// What a 32-bit program built for 64-bit time calls instead.
int __ioctl_time64(int fd, unsigned long request, void* arg)
{
    static IOCTL_FN real;
    if (real == 0) real = (IOCTL_FN)dlsym(RTLD_NEXT, "__ioctl_time64");
    return Shift(real, fd, request, arg);
}
