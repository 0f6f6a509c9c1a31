// How many photos load at once: one photo more than there are threads joins the wave instead of
// loading alone afterwards, within the megapixel and file-size limits.

#include "base/parallelFor.h"
#include "project/loadPhotoWorker.h"
#include "support/testSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

QStringList files(const QString& dir, int count, qint64 bytes = 16) {
    QStringList names;
    for (int i = 0; i < count; ++i) {
        names << dir + QString("/p%1.jpg").arg(i);
        QFile f(names.back());
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_TRUE(f.resize(bytes));
    }
    return names;
}

} // namespace

TEST(loadWave, theLastPhotoJoinsTheWaveInsteadOfLoadingAlone) {
    const QString dir = halvora::test::makeTempDir("wave");
    halvora::test::threadCountGuard two(2);
    // 12 MP: three photos on two threads in one wave; four in two waves of two; two in one.
    EXPECT_EQ(loadPhotoWorker::waveSize(4032, 3024, files(dir, 3)), 3);
    EXPECT_EQ(loadPhotoWorker::waveSize(4032, 3024, files(dir, 4)), 2);
    EXPECT_EQ(loadPhotoWorker::waveSize(4032, 3024, files(dir, 2)), 2);
    // The rest of five photos after a wave of two is three: again one wave.
    EXPECT_EQ(loadPhotoWorker::waveSize(4032, 3024, files(dir, 5).mid(2)), 3);
    // 24 MP photos stay two at a time (memory), whatever is pending.
    EXPECT_EQ(loadPhotoWorker::waveSize(5700, 4276, files(dir, 3)), 2);
    {
        halvora::test::threadCountGuard one(1);
        // A single thread gains nothing from a second photo at once.
        EXPECT_EQ(loadPhotoWorker::waveSize(4032, 3024, files(dir, 2)), 1);
    }
    {
        halvora::test::threadCountGuard three(3);
        EXPECT_EQ(loadPhotoWorker::waveSize(4032, 3024, files(dir, 4)), 3); // the 20 MP limit of 3
        EXPECT_EQ(loadPhotoWorker::waveSize(2000, 1500, files(dir, 4)), 4);
        EXPECT_EQ(loadPhotoWorker::waveSize(2000, 1500, files(dir, 5)), 3);
    }
}
