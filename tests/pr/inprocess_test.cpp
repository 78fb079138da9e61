// What the executables cannot reach: the request block as the driver gets
// it, and the guards against PathIDs that callers are meant to rule out.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "records/records.h"
#include "operator/operator.h"
#include "pr/pr.h"
#include "pr_storage.h"
#include "run.h"

namespace {

// Appends a node as discovery would, so that the exit routine frees it.
LU_INFO* AddNode(uint32_t path, uint32_t target, uint32_t lun, int32_t drive)
{
    LU_INFO* p = static_cast<LU_INFO*>(std::calloc(1, sizeof(LU_INFO)));
    p->PortNo = 2;
    p->PathId = path;
    p->TargetId = target;
    p->Lun = lun;
    p->PhysDriveNo = drive;
    p->pPrev = g_LuTail;
    if (g_LuTail != nullptr) g_LuTail->pNext = p;
    else g_LuHead = p;
    g_LuTail = p;
    return p;
}

// A table of n entries over n fresh nodes, allocated as the survey does.
void MakeTable(uint32_t n)
{
    g_PrTable = static_cast<PR_INFO*>(std::calloc(n, sizeof(PR_INFO)));
    g_PrCount = n;
    for (uint32_t i = 0; i < n; ++i) g_PrTable[i].pLuInfo = AddNode(0, 1, i, (int32_t)(3 + i));
}

struct ChildRun {
    int code = -1;
    std::string out;
    std::string stateText;
};

// Runs body in a child process on an empty simulated storage, with standard
// output going to a file; body must end the process through the exit routine.
template <typename Body>
ChildRun RunInChild(Body body, const std::string& stateJson = "{}\n")
{
    std::string dir = MakeTempDir();
    std::string state = dir + "/state.json", out = dir + "/out";
    WriteFile(state, stateJson);
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, 1) < 0) _exit(120);
        setenv("VRXPR_SIM_STATE", state.c_str(), 1);
        QelVRXPR_StartPlatform();
        body();
        _exit(121);  // body returned: the guard did not stop the process
    }
    ChildRun r;
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) r.code = WEXITSTATUS(status);
    r.out = ReadFile(out);
    r.stateText = ReadFile(state);
    return r;
}

TEST(PrInProcess, ClearOfPathIdEqualToCountStopsBeforeAnyCommand)
{
    ChildRun r = RunInChild([] {
        MakeTable(2);
        QelVRXPR_ClearPR(2);
    });
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out, MsgInternal("QelVRXPR_ClearPR()001"));
    EXPECT_TRUE(LogLines(r.stateText).empty());
}

TEST(PrInProcess, RowOfPathIdEqualToCountIsAnInternalError)
{
    ChildRun r = RunInChild([] {
        MakeTable(1);
        QelVRXPR_ViewPRList_OneLU(1);
    });
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out, MsgInternal("QelVRXPR_ViewPRList_OneLU()001"));
}

TEST(PrInProcess, RowsTheSimulatedLuCannotProduce)
{
    // A non-zero key with an all-registrants type, and with a type byte
    // whose upper four bits the table never holds.
    ChildRun r = RunInChild([] {
        MakeTable(3);
        const uint8_t key[8] = {0x80, 0, 0, 0, 0, 0, 0, 0x01};
        for (int i = 0; i < 3; ++i) std::memcpy(g_PrTable[i].ResvKey, key, 8);
        g_PrTable[0].ResvType = 7;
        g_PrTable[0].KeyCount = 3;
        g_PrTable[1].ResvType = 8;
        g_PrTable[1].KeyCount = 32;
        g_PrTable[2].ResvType = 0;
        g_PrTable[2].KeyCount = 1;
        QelVRXPR_ViewPRList();
        QelVRXPR_Exit(0);
    });
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, std::string(kHeader) +
                         "000000 0002.0000.0000000000000001.0000     3    8000000000000001 Undefined(0x07)\n"
                         "000001 0002.0000.0000000000000001.0001    32    8000000000000001 Undefined(0x08)\n"
                         "000002 0002.0000.0000000000000001.0002     1    8000000000000001 Undefined(0x00)\n");
}

TEST(PrInProcess, RegisterWithTheWholeBufferAsTransferIsRejected)
{
    // The same REGISTER block twice, first with the data buffer's length as
    // transfer length: the LU checks it against PARAMETER LIST LENGTH.
    ChildRun r = RunInChild(
        [] {
            MakeTable(1);  // port 2, path 0, target 1, LUN 0, drive 3
            static PR_DATA data;
            for (ULONG transfer : {(ULONG)PR_DATA_LEN, (ULONG)PR_OUT_PARAM_LEN}) {
                HANDLE h = QelVRXPR_OpenDevice("\\\\.\\PhysicalDrive3");
                PR_REQUEST req;
                QelVRXPR_BuildPRCmd(0, PR_CMD_REGISTER, &req, data.Bytes);
                req.Sptd.DataTransferLength = transfer;
                DWORD returned = 0;
                int ok = QelVRXPR_RequestDevice(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req, &req,
                                                sizeof req, &returned);
                QelVRXPR_CloseDevice(h);
                std::printf("%d %u\n", ok != 0, (unsigned)req.Sptd.ScsiStatus);
            }
            QelVRXPR_Exit(0);
        },
        Storage({{"lu", 1, 0, 3, Managed("")}}));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "1 2\n1 0\n");
    std::vector<PrRequest> sent = PrRequests(r.stateText);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].transferLength, 264);
    EXPECT_EQ(sent[0].status, 2);
    EXPECT_EQ(sent[1].transferLength, 24);
    EXPECT_EQ(sent[1].status, 0);
    EXPECT_NE(PrState(r.stateText, "lu").find("local:2"), std::string::npos) << PrState(r.stateText, "lu");
}

TEST(PrInProcess, RequestBlockOfEveryCommand)
{
    struct Expect {
        uint8_t cdb1;
        uint8_t dataIn;
        ULONG transfer;
        uint8_t alloc;
        int keyAt;  // -1: none
    };
    const Expect expect[PR_CMD_COUNT] = {
        {0x00, 1, 264, 0x08, -1}, {0x01, 1, 264, 0x08, -1}, {0x00, 0, 24, 0x18, 8},
        {0x03, 0, 24, 0x18, 0},   {0x06, 0, 24, 0x18, 8},
    };
    LU_INFO node{};
    node.PathId = 0x103;  // only the low eight bits reach the block
    node.TargetId = 0x1FE;
    node.Lun = 0x207;
    PR_INFO entry{};
    entry.pLuInfo = &node;
    g_PrTable = &entry;
    g_PrCount = 1;
    static PR_DATA data;
    for (int cmd = 0; cmd < PR_CMD_COUNT; ++cmd) {
        SCOPED_TRACE(cmd);
        PR_REQUEST req;
        std::memset(&req, 0xA5, sizeof req);
        std::memset(data.Bytes, 0xA5, sizeof data.Bytes);
        QelVRXPR_BuildPRCmd(0, cmd, &req, data.Bytes);

        PR_REQUEST want;
        std::memset(&want, 0, sizeof want);
        want.Sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
        want.Sptd.PathId = 0x03;
        want.Sptd.TargetId = 0xFE;
        want.Sptd.Lun = 0x07;
        want.Sptd.CdbLength = 10;
        want.Sptd.SenseInfoLength = 24;
        want.Sptd.DataIn = expect[cmd].dataIn;
        want.Sptd.DataTransferLength = expect[cmd].transfer;
        want.Sptd.TimeOutValue = 2;
        want.Sptd.DataBuffer = data.Bytes;
        want.Sptd.SenseInfoOffset = offsetof(PR_REQUEST, SenseBuf);
        want.Sptd.Cdb[0] = cmd < 2 ? 0x5E : 0x5F;
        want.Sptd.Cdb[1] = expect[cmd].cdb1;
        want.Sptd.Cdb[7] = cmd < 2 ? 0x01 : 0x00;
        want.Sptd.Cdb[8] = expect[cmd].alloc;
        // Every byte, padding included, is what the driver sees.
        EXPECT_EQ(std::memcmp(&req, &want, sizeof req), 0);

        uint8_t wantData[PR_DATA_LEN] = {};
        if (expect[cmd].keyAt >= 0) std::memcpy(wantData + expect[cmd].keyAt, g_RegistrantKey, 8);
        EXPECT_EQ(std::memcmp(data.Bytes, wantData, PR_DATA_LEN), 0);
    }
    g_PrTable = nullptr;
    g_PrCount = 0;
}

}  // namespace
