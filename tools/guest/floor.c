/* The least work that lists persistent reservations over SG_IO, in one
 * process: every path's INQUIRY data from sysfs, every sg device mapped to
 * its address (open, SG_GET_SCSI_ID, close), then READ KEYS and READ
 * RESERVATION to each (open, SG_IO, close each). The yardstick of bench.sh.
 * An argument N limits the work to the first N paths and sg devices; a
 * second argument "pr" leaves discovery out: the sg devices as the class
 * folder lists them, and only the two commands to each. */
#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#define MAX_SG 4096

static int read_inquiry(const char *name)
{
    char path[512];
    unsigned char buf[36];
    snprintf(path, sizeof path, "/sys/bus/scsi/devices/%s/inquiry", name);
    int fd = open(path, O_RDONLY);
    if (fd < 0) return -1;
    ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    return n >= 32 ? 0 : -1;
}

static int pr_in(const char *dev, unsigned char action)
{
    unsigned char cdb[10] = {0x5e, action, 0, 0, 0, 0, 0, 264 >> 8, 264 & 0xff, 0};
    unsigned char data[264], sense[32];
    sg_io_hdr_t h;
    int fd = open(dev, O_RDWR | O_NONBLOCK);
    if (fd < 0) return -1;
    memset(&h, 0, sizeof h);
    h.interface_id = 'S';
    h.cmdp = cdb;
    h.cmd_len = sizeof cdb;
    h.dxferp = data;
    h.dxfer_len = sizeof data;
    h.dxfer_direction = SG_DXFER_FROM_DEV;
    h.sbp = sense;
    h.mx_sb_len = sizeof sense;
    h.timeout = 2000;
    int r = ioctl(fd, SG_IO, &h);
    close(fd);
    return r == 0 && h.status == 0 && h.host_status == 0 ? 0 : -1;
}

int main(int argc, char **argv)
{
    static int sg[MAX_SG];
    int paths = 0, bad = 0, nsg = 0;
    int limit = argc > 1 ? atoi(argv[1]) : MAX_SG;
    if (limit <= 0 || limit > MAX_SG) limit = MAX_SG;
    int discover = !(argc > 2 && strcmp(argv[2], "pr") == 0);
    char dev[64];

    DIR *d = opendir("/sys/bus/scsi/devices");
    if (d == NULL) return 2;
    struct dirent *e;
    while (discover && (e = readdir(d)) != NULL && paths < limit) {
        /* H:C:T:L; hosts and targets are listed there as well. */
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        ++paths;
        if (read_inquiry(e->d_name) != 0) ++bad;
    }
    closedir(d);

    d = opendir("/sys/class/scsi_generic");
    if (d == NULL) return 2;
    while ((e = readdir(d)) != NULL && nsg < limit) {
        int n;
        if (sscanf(e->d_name, "sg%d", &n) != 1) continue;
        if (!discover) {
            sg[nsg++] = n;
            continue;
        }
        snprintf(dev, sizeof dev, "/dev/sg%d", n);
        int fd = open(dev, O_RDWR | O_NONBLOCK);
        if (fd < 0) { ++bad; continue; }
        struct sg_scsi_id id;
        if (ioctl(fd, SG_GET_SCSI_ID, &id) != 0) ++bad;
        close(fd);
        sg[nsg++] = n;
    }
    closedir(d);

    for (int i = 0; i < nsg; ++i) {
        snprintf(dev, sizeof dev, "/dev/sg%d", sg[i]);
        if (pr_in(dev, 0) != 0) ++bad;
        if (pr_in(dev, 1) != 0) ++bad;
    }
    printf("floor: %d paths, %d sg devices, %d failures\n", paths, nsg, bad);
    return bad != 0;
}
