#include "base/pyramid.h"
#include "base/parallelFor.h"
#include "base/tempFileRecord.h"
#include "support/testSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(pyramid, levelSizesAndBlocks) {
    pyramid p;
    ASSERT_TRUE(p.init(101, 40, 4, 2, 3, true));
    EXPECT_EQ(p.levelCount(), 4);
    EXPECT_EQ(p.width(1), 50);
    EXPECT_EQ(p.height(1), 20);
    EXPECT_EQ(p.width(3), 12);
    EXPECT_EQ(p.height(3), 5);
    EXPECT_EQ(p.levelBytes(0), size_t(101 * 40 * 3 * 2));
    p.release();
    EXPECT_EQ(p.levelCount(), 0);
    EXPECT_FALSE(p.allocated());
    EXPECT_FALSE(p.init(0, 10, 1, 2, 1, true));
    EXPECT_FALSE(p.init(10, 10, 17, 2, 1, true));
    EXPECT_FALSE(p.init(10, 10, 1, 3, 1, true));
    EXPECT_FALSE(p.init(1 << 21, 10, 1, 2, 1, true)) << "absurd sizes are refused before allocating";
}

// Level k+1 at (x, y) is the truncated mean of level k at columns 2x−1, 2x and rows 2y−1, 2y (−1 → 0).
template <class T> T reference(const T* src, int w, int x, int y, int c, int channels) {
    const int xs[2] = {x == 0 ? 0 : 2 * x - 1, 2 * x}, ys[2] = {y == 0 ? 0 : 2 * y - 1, 2 * y};
    double sum = 0;
    for (int yy : ys)
        for (int xx : xs)
            sum += double(src[(size_t(yy) * w + xx) * channels + c]);
    if constexpr (std::is_floating_point_v<T>)
        return T(sum * 0.25);
    else
        return T(uint32_t(sum) >> 2);
}

template <class T> void checkLevels(int bytes, int channels) {
    for (int threads : {1, 3}) {
        halvora::setThreadCountOverride(threads);
        pyramid p;
        ASSERT_TRUE(p.init(45, 23, 3, bytes, channels, true));
        T* level0 = p.data<T>(0);
        for (int i = 0; i < 45 * 23 * channels; ++i)
            level0[i] = T((i * 97) % 251);
        p.buildLevels();
        for (int k = 1; k < 3; ++k)
            for (int y = 0; y < p.height(k); ++y)
                for (int x = 0; x < p.width(k); ++x)
                    for (int c = 0; c < channels; ++c)
                        ASSERT_EQ(p.data<T>(k)[(size_t(y) * p.width(k) + x) * channels + c],
                                  reference(p.data<T>(k - 1), p.width(k - 1), x, y, c, channels));
    }
    halvora::setThreadCountOverride(0);
}

TEST(pyramid, buildLevelsFollowsTheReductionRule) {
    checkLevels<uint8_t>(1, 1);
    checkLevels<uint16_t>(2, 1);
    checkLevels<uint16_t>(2, 3);
    checkLevels<float>(4, 3);
}

TEST(pyramid, reshapeKeepsLevelZero) {
    pyramid p;
    ASSERT_TRUE(p.init(10, 4, 2, 2, 1, true));
    for (int i = 0; i < 40; ++i)
        p.data<uint16_t>()[i] = uint16_t(i);
    ASSERT_TRUE(p.reshape(4, 10, 2));
    EXPECT_EQ(p.width(), 4);
    EXPECT_EQ(p.width(1), 2);
    EXPECT_EQ(p.height(1), 5);
    EXPECT_EQ(p.data<uint16_t>()[39], 39);
    EXPECT_FALSE(p.reshape(11, 4, 2)) << "level 0 would not fit";
}

TEST(pyramid, temporaryFileRoundTrip) {
    const QString dir = halvora::test::makeTempDir("pyr") + "/";
    pyramid p;
    ASSERT_TRUE(p.init(13, 7, 1, 2, 3, true));
    for (int i = 0; i < 13 * 7 * 3; ++i)
        p.data<uint16_t>()[i] = uint16_t(i * 11);
    tempFileRecord file(dir);
    ASSERT_TRUE(file.isOpen());
    ASSERT_TRUE(p.writeToTempFile(&file));
    EXPECT_EQ(file.size(), qint64(13 * 7 * 6));
    pyramid q;
    ASSERT_TRUE(q.init(13, 7, 1, 2, 3, true));
    ASSERT_TRUE(q.readFromTempFile(&file));
    EXPECT_EQ(std::memcmp(p.data<uint16_t>(), q.data<uint16_t>(), p.levelBytes()), 0);

    EXPECT_FALSE(q.readFromTempFile(nullptr)) << "a missing file";
    pyramid bigger;
    ASSERT_TRUE(bigger.init(14, 7, 1, 2, 3, true));
    halvora::test::logCapture log;
    EXPECT_FALSE(bigger.readFromTempFile(&file));
    EXPECT_TRUE(log.contains("pyramid::readFromTempFile: read() failed (size=546/588)\n"));
}

} // namespace
