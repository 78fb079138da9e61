/* A relay between the iSCSI initiator and tgtd on loopback that holds back
 * the answer to one chosen command: when a SCSI Command PDU whose CDB starts
 * with the armed operation code and service action passes, the target
 * process is stopped before the PDU is handed on. A shell cannot stop tgtd
 * between two commands that follow each other within a millisecond.
 *
 * Usage: hold LISTEN-PORT TARGET-PORT ARM-FILE HELD-FILE
 * ARM-FILE holds "PID OP SA" in hex (PID in decimal); it is removed when
 * the command passes, and HELD-FILE is written with the command's LUN.
 * Header and data digests must be off. */
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#define MAX_CONN 8
#define BHS_LEN 48
#define OP_SCSI_CMD 0x01

struct relay {
    int ini, tgt;               /* initiator side, target side */
    unsigned char bhs[BHS_LEN]; /* the header being gathered */
    size_t have;                /* its bytes so far */
    size_t body;                /* bytes of the current PDU after its header */
};

static struct relay relays[MAX_CONN];
static int nrelays;
static const char *arm_file, *held_file;

static int write_all(int fd, const unsigned char *p, size_t n)
{
    while (n > 0) {
        ssize_t k = write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return -1;
        p += k;
        n -= (size_t)k;
    }
    return 0;
}

static int dial(int port)
{
    struct sockaddr_in a = {.sin_family = AF_INET, .sin_port = htons(port)};
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd >= 0 && connect(fd, (struct sockaddr *)&a, sizeof a) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

static void check_armed(const unsigned char *bhs)
{
    unsigned pid, op, sa;
    FILE *f = fopen(arm_file, "r");
    if (f == NULL) return;
    int n = fscanf(f, "%u %x %x", &pid, &op, &sa);
    fclose(f);
    if (n != 3 || bhs[32] != op || (bhs[33] & 0x1f) != sa) return;
    kill((pid_t)pid, SIGSTOP);
    unlink(arm_file);
    f = fopen(held_file, "w");
    if (f != NULL) {
        fprintf(f, "%u\n", (unsigned)(bhs[8] << 8 | bhs[9]) & 0x3fff);
        fclose(f);
    }
}

/* Hands on what the initiator sent, one PDU header at a time. */
static int from_initiator(struct relay *r, const unsigned char *p, size_t n)
{
    while (n > 0) {
        if (r->body > 0) {
            size_t k = n < r->body ? n : r->body;
            if (write_all(r->tgt, p, k) != 0) return -1;
            r->body -= k;
            p += k;
            n -= k;
            continue;
        }
        size_t k = BHS_LEN - r->have < n ? BHS_LEN - r->have : n;
        memcpy(r->bhs + r->have, p, k);
        r->have += k;
        p += k;
        n -= k;
        if (r->have < BHS_LEN) break;
        size_t data = (size_t)r->bhs[5] << 16 | (size_t)r->bhs[6] << 8 | r->bhs[7];
        r->body = (size_t)r->bhs[4] * 4 + ((data + 3) & ~(size_t)3);
        r->have = 0;
        if ((r->bhs[0] & 0x3f) == OP_SCSI_CMD) check_armed(r->bhs);
        if (write_all(r->tgt, r->bhs, BHS_LEN) != 0) return -1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: hold LISTEN-PORT TARGET-PORT ARM-FILE HELD-FILE\n");
        return 2;
    }
    int target_port = atoi(argv[2]);
    arm_file = argv[3];
    held_file = argv[4];
    signal(SIGPIPE, SIG_IGN);

    int lfd = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in a = {.sin_family = AF_INET, .sin_port = htons(atoi(argv[1]))};
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(lfd, (struct sockaddr *)&a, sizeof a) != 0 || listen(lfd, 4) != 0) {
        perror("hold: listen");
        return 1;
    }

    for (;;) {
        struct pollfd pf[1 + 2 * MAX_CONN];
        pf[0] = (struct pollfd){.fd = lfd, .events = POLLIN};
        for (int i = 0; i < nrelays; ++i) {
            pf[1 + 2 * i] = (struct pollfd){.fd = relays[i].ini, .events = POLLIN};
            pf[2 + 2 * i] = (struct pollfd){.fd = relays[i].tgt, .events = POLLIN};
        }
        if (poll(pf, 1 + 2 * (nfds_t)nrelays, -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        for (int i = nrelays - 1; i >= 0; --i) {
            struct relay *r = &relays[i];
            unsigned char buf[65536];
            int broken = 0;
            if (pf[1 + 2 * i].revents) {
                ssize_t n = read(r->ini, buf, sizeof buf);
                broken = n <= 0 || from_initiator(r, buf, (size_t)n) != 0;
            }
            if (!broken && pf[2 + 2 * i].revents) {
                ssize_t n = read(r->tgt, buf, sizeof buf);
                broken = n <= 0 || write_all(r->ini, buf, (size_t)n) != 0;
            }
            if (broken) {
                close(r->ini);
                close(r->tgt);
                relays[i] = relays[--nrelays];
            }
        }
        if (pf[0].revents & POLLIN) {
            int ifd = accept(lfd, NULL, NULL);
            if (ifd < 0) continue;
            int tfd = nrelays < MAX_CONN ? dial(target_port) : -1;
            if (tfd < 0) {
                close(ifd);
                continue;
            }
            relays[nrelays++] = (struct relay){.ini = ifd, .tgt = tfd};
        }
    }
}
