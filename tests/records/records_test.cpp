// The LU name that identifies an LU in messages and in the listing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "records/records.h"

namespace {

std::string NameOf(uint32_t port, uint32_t path, uint32_t target, uint64_t lun)
{
    LU_INFO node{};
    node.PortNo = port;
    node.PathId = path;
    node.TargetId = target;
    node.Lun = lun;
    PR_INFO entries[2]{};
    entries[1].pLuInfo = &node;
    g_PrTable = entries;
    g_PrCount = 2;
    char name[LU_NAME_LEN];
    std::memset(name, 'Z', sizeof name);
    QelVRXPR_MakeLUName(1, name);
    g_PrTable = nullptr;
    g_PrCount = 0;
    return std::string(name, strnlen(name, sizeof name));
}

}  // namespace

TEST(LuName, FixedWidthUpperCaseHex)
{
    EXPECT_EQ(NameOf(2, 0, 1, 3), "0002.0000.0000000000000001.0003");
    EXPECT_EQ(NameOf(15, 3, 255, 255), "000F.0003.00000000000000FF.00FF");
    EXPECT_EQ(NameOf(0, 0, 0, 0), "0000.0000.0000000000000000.0000");
    EXPECT_EQ(NameOf(10, 254, 171, 16), "000A.00FE.00000000000000AB.0010");
    EXPECT_EQ(NameOf(15, 3, 255, 255).size(), 31u);
    // Linux's numbers: the widths are the least, a wider number is whole.
    EXPECT_EQ(NameOf(70000, 0, 300, 16384), "11170.0000.000000000000012C.4000");
    EXPECT_EQ(NameOf(0, 0, 0, 0x10000000001ull), "0000.0000.0000000000000000.10000000001");
    EXPECT_EQ(NameOf(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, UINT64_MAX),
              "FFFFFFFF.FFFFFFFF.00000000FFFFFFFF.FFFFFFFFFFFFFFFF");
    EXPECT_EQ(NameOf(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, UINT64_MAX).size(), LU_NAME_LEN - 1u);
}
