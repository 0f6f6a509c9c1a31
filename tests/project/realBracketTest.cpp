// Real brackets: EVs from the cameras' exposure data, and a True HDR merge that keeps the brightness
// order of regions that every unclipped photo agrees on.

#include "project/exposureValues.h"
#include "project/generateHDRworker.h"
#include "project/hdrTestSupport.h"
#include "support/testSupport.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <cmath>
#include <gtest/gtest.h>

namespace {

struct exposure {
    double t = 0, n = 0, iso = 0;
};

// "name | … | t=1/10s f/1.7 ISO800 bias=+1.75EV | …" lines of the folder's SOURCE.txt.
std::map<QString, exposure> exposuresFromSource(const QString& folder) {
    std::map<QString, exposure> result;
    QFile file(folder + "/SOURCE.txt");
    if (!file.open(QIODevice::ReadOnly)) return result;
    const QRegularExpression re(R"(^\s+(\S+) \|.*\| t=([0-9./]+)s f/([0-9.]+) ISO([0-9]+) )");
    for (const QByteArray& line : file.readAll().split('\n')) {
        const auto m = re.match(QString::fromUtf8(line));
        if (!m.hasMatch()) continue;
        exposure e;
        const QStringList t = m.captured(2).split('/');
        e.t = t.size() == 2 ? t[0].toDouble() / t[1].toDouble() : t[0].toDouble();
        e.n = m.captured(3).toDouble();
        e.iso = m.captured(4).toDouble();
        result[m.captured(1)] = e;
    }
    return result;
}

struct bracketRun {
    std::unique_ptr<processingProject> project;
    std::vector<hdrtest::photoData> photos;
    std::vector<exposure> exposures;
    int w = 0, h = 0;
};

bracketRun loadBracket(const QString& folder, const QStringList& files, int reduce) {
    bracketRun run;
    const auto table = exposuresFromSource(folder);
    for (const QString& f : files) {
        hdrtest::photoData p;
        if (!hdrtest::decodePhoto(folder + "/" + f, reduce, p, run.w, run.h) || !table.count(f))
            return bracketRun{};
        const exposure e = table.at(f);
        p.exposureTime = float(e.t);
        p.fNumber = float(e.n);
        p.iso = int(e.iso);
        run.exposures.push_back(e);
        run.photos.push_back(std::move(p));
    }
    run.project = hdrtest::makeProject();
    if (!hdrtest::addPhotos(*run.project, run.w, run.h, run.photos)) return bracketRun{};
    return run;
}

void checkEVs(const bracketRun& run) {
    for (size_t i = 0; i < run.exposures.size(); ++i)
        for (size_t j = 0; j < run.exposures.size(); ++j) {
            const exposure &a = run.exposures[i], &b = run.exposures[j];
            const double expected = std::log2((a.t * a.iso / (a.n * a.n)) / (b.t * b.iso / (b.n * b.n)));
            EXPECT_NEAR(run.project->photos[i]->ev - run.project->photos[j]->ev, expected, 1e-5)
                << i << " " << j;
        }
}

// Block means of luminance. A block is clipped in a photo when a pixel reaches kWhite (JPEG highlights
// roll off before 255) or when its mean is below kBlack (black level, noise and JPEG quantisation
// leave no reliable order down there).
constexpr int kWhite = 245, kBlack = 20;
struct blockStats {
    std::vector<double> luminance;
    std::vector<bool> usable;
};

blockStats blocksOf(const uint16_t* rgb, int w, int h, int size) {
    blockStats s;
    for (int by = 0; by + size <= h; by += size)
        for (int bx = 0; bx + size <= w; bx += size) {
            double sum = 0;
            bool clipped = false;
            for (int y = by; y < by + size; ++y)
                for (int x = bx; x < bx + size; ++x) {
                    const uint16_t* p = rgb + (size_t(y) * w + x) * 3;
                    sum += 0.3086 * p[0] + 0.6094 * p[1] + 0.082 * p[2];
                    clipped = clipped || std::max({p[0], p[1], p[2]}) >= kWhite * 128;
                }
            s.luminance.push_back(sum / (size * size));
            s.usable.push_back(!clipped && s.luminance.back() >= kBlack * 128);
        }
    return s;
}

std::vector<double> mergedBlocks(const float* rgb, int w, int h, int size) {
    std::vector<double> out;
    for (int by = 0; by + size <= h; by += size)
        for (int bx = 0; bx + size <= w; bx += size) {
            double sum = 0;
            for (int y = by; y < by + size; ++y)
                for (int x = bx; x < bx + size; ++x) {
                    const float* p = rgb + (size_t(y) * w + x) * 3;
                    sum += 0.3086 * p[0] + 0.6094 * p[1] + 0.082 * p[2];
                }
            out.push_back(sum / (size * size));
        }
    return out;
}

// Pairs of blocks that every photo seeing both unclipped orders the same way, by at least `margin`:
// the merge must order them the same way. Returns {pairs checked, pairs out of order}.
std::pair<int, int> orderCheck(const bracketRun& run, int size, double margin) {
    std::vector<blockStats> photos;
    for (const auto& p : run.photos)
        photos.push_back(blocksOf(p.pixels.data(), run.w, run.h, size));
    const std::vector<double> merged = mergedBlocks(run.project->rgbFloatBuffer(), run.w, run.h, size);
    int checked = 0, wrong = 0;
    const size_t n = merged.size();
    for (size_t a = 0; a < n; ++a)
        for (size_t b = a + 1; b < n; ++b) {
            int sign = 0;
            bool consistent = true;
            for (const auto& s : photos) {
                if (!s.usable[a] || !s.usable[b]) continue;
                const double ratio = s.luminance[a] / s.luminance[b];
                const int here = ratio > 1 + margin ? 1 : ratio < 1 / (1 + margin) ? -1 : 0;
                if (here == 0 || (sign != 0 && here != sign)) {
                    consistent = false;
                    break;
                }
                sign = here;
            }
            if (!consistent || sign == 0) continue;
            ++checked;
            if ((merged[a] > merged[b] ? 1 : -1) != sign) ++wrong;
        }
    return {checked, wrong};
}

void mergeAndCheckOrder(bracketRun& run, int block, const char* name) {
    generateHDRworker worker(run.project.get());
    ASSERT_TRUE(worker.prepareWeightTables());
    ASSERT_TRUE(worker.generateHDR_core()) << worker.lastError.toStdString();
    ASSERT_TRUE(halvora::test::allFinite(run.project->rgbFloatBuffer(), size_t(run.w) * run.h * 3));
    // Where every unclipped photo puts one block at least a stop above the other, so must the merge.
    // Closer pairs are only reported: in-camera JPEG processing (tone curve, local contrast on the
    // phone) is not one global response, so the photos' radiance estimates of a block disagree by
    // up to some tens of percent, and a merge drawing two blocks from different photos can swap
    // pairs that are within that disagreement.
    const auto [close, closeWrong] = orderCheck(run, block, 0.1);
    const auto [checked, wrong] = orderCheck(run, block, 1.0);
    std::printf("[ order    ] %s: >10 %% apart: %d pairs, %d swapped; >1 stop apart: %d pairs, %d swapped\n",
                name, close, closeWrong, checked, wrong);
    EXPECT_GT(checked, 1000) << name;
    EXPECT_EQ(wrong, 0) << name;
}

TEST(realBracket, deskCanonS45) {
    HALVORA_REQUIRE_DATA();
    QStringList files;
    for (int i = 1; i <= 13; ++i)
        files << QString("img%1.jpg").arg(i, 2, 10, QChar('0'));
    bracketRun run = loadBracket(halvora::test::dataFile("brackets/desk_canon_s45_13exp"), files, 1);
    ASSERT_TRUE(run.project);
    ASSERT_EQ(halvora::chooseEVsAfterLoading(*run.project).chosen, halvora::evChoice::fromExif);
    checkEVs(run);
    // 13 s against 1/1000 s: 13.67 stops.
    EXPECT_NEAR(run.project->evMax - run.project->evMin, std::log2(13.0 * 1000.0), 1e-4);
    mergeAndCheckOrder(run, 32, "desk_canon_s45_13exp");
}

TEST(realBracket, xperiaChangesIsoAndShutterTogether) {
    HALVORA_REQUIRE_DATA();
    const QStringList files{"20240401_185439.JPG", "20240401_185447.JPG", "20240401_185455.JPG",
                            "20240401_185503.JPG", "20240401_185511.JPG", "20240401_185518.JPG",
                            "20240401_185523.JPG"};
    // Reduced four times while decoding: the hand-held shifts of 1.5–6 px shrink below two pixels.
    bracketRun run = loadBracket(halvora::test::dataFile("brackets/xperia_library_handheld_7exp"), files, 4);
    ASSERT_TRUE(run.project);
    ASSERT_EQ(halvora::chooseEVsAfterLoading(*run.project).chosen, halvora::evChoice::fromExif);
    checkEVs(run);
    // The last two frames share f/1.7 and ISO 200: only the shutter differs (1/20 against 1/30 s).
    EXPECT_NEAR(run.project->photos[5]->ev - run.project->photos[6]->ev, std::log2(1.5), 1e-5);
    // Frames 3 and 4 share the shutter (1/15 s): ISO 640 against 400.
    EXPECT_NEAR(run.project->photos[2]->ev - run.project->photos[3]->ev, std::log2(640.0 / 400.0), 1e-5);
    mergeAndCheckOrder(run, 24, "xperia_library_handheld_7exp");
}

} // namespace
