// The zero-page table of the settings records: all zero from the start without taking memory until
// it is written, and otherwise a plain table (copies, comparison, release).

#include "tonemap/zeroedTable.h"
#include "tonemap/tableStorage.h"

#include <fstream>
#include <gtest/gtest.h>
#include <numeric>
#include <string>

using halvora::zeroedTable;

namespace {

// Resident anonymous memory of this process in KiB, or −1. Counted from the page tables
// (smaps_rollup): the RssAnon line of /proc/self/status lags behind a few fresh 2 MiB pages.
long residentAnonymousKiB() {
    std::ifstream status("/proc/self/smaps_rollup");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "Anonymous:" && status >> value) return value;
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

TEST(zeroedTable, startsAllZeroAndTakesMemoryOnlyWhenWritten) {
    if (residentAnonymousKiB() < 0) GTEST_SKIP() << "no /proc/self/smaps_rollup on this system";
    toneMappingTables_t tables;
    const long before = residentAnonymousKiB();
    ASSERT_TRUE(tables.allocate());
    const long allocated = residentAnonymousKiB();
    // The other tables are small; the 16 MiB mask table must not be written to be zero.
    EXPECT_LT(allocated - before, 8 * 1024) << "allocating the tables wrote the mask table";
    ASSERT_EQ(tables.tmTable.size(), 2048u * 2048u);
    EXPECT_EQ(std::accumulate(tables.tmTable.begin(), tables.tmTable.end(), 0.0), 0.0);
    for (size_t i = 0; i < tables.tmTable.size(); ++i)
        tables.tmTable[i] = double(i % 7);
    // Read back, so that the writes cannot be dropped as dead stores before the release.
    EXPECT_EQ(std::accumulate(tables.tmTable.begin(), tables.tmTable.end(), 0.0), 599186.0 * 21 + 1);
    EXPECT_GT(residentAnonymousKiB() - allocated, 12 * 1024) << "the written table is resident";
    tables.release();
    EXPECT_TRUE(tables.tmTable.empty());
    EXPECT_FALSE(tables.allocated());
}

TEST(zeroedTable, copiesCompareAndStayIndependent) {
    zeroedTable<double> a;
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(a.data(), nullptr);
    a.assignZero(1000);
    a[3] = 2.5;
    zeroedTable<double> b(a);
    EXPECT_TRUE(a == b);
    EXPECT_NE(a.data(), b.data());
    b[3] = 1.0;
    EXPECT_FALSE(a == b);
    EXPECT_EQ(a[3], 2.5);
    b = a;
    EXPECT_TRUE(a == b);
    zeroedTable<double> shorter;
    shorter.assignZero(999);
    EXPECT_FALSE(shorter == b);
    // Assigning afresh forgets the old values.
    b.assignZero(1000);
    EXPECT_EQ(b[3], 0.0);
    zeroedTable<double> moved(std::move(a));
    EXPECT_EQ(moved[3], 2.5);
    EXPECT_EQ(moved.size(), 1000u);
    EXPECT_TRUE(a.empty() && a.begin() == a.end());
    // A mapped block (4 MiB) copies, compares and moves the same way.
    zeroedTable<float> big;
    big.assignZero(size_t(1) << 20);
    big[12345] = 7.0f;
    zeroedTable<float> bigCopy(big), bigMoved(std::move(big));
    EXPECT_TRUE(bigCopy == bigMoved);
    EXPECT_EQ(bigMoved[12345], 7.0f);
    EXPECT_TRUE(big.empty());
    b = zeroedTable<double>();
    EXPECT_TRUE(b.empty());
    EXPECT_THROW(b.assignZero(size_t(-1) / 4), std::bad_alloc);
    EXPECT_TRUE(b.empty());
}

} // namespace
