// The local tone-mapping (Mask) table is held in floats: every entry against the response computed
// here in double precision, and the whole chain's sensitivity to the entries' last bit, which bounds
// what the float rounding can move in the output.

#include "tonemap/picturePasses.h"
#include "tonemap/rebuildOnChange.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace halvora;

// Row r holds the response for a neighbourhood of brightness r / 2048: with
// κ = 10^(|2x − 1| × 0.6 × strength), a bright neighbourhood (x ≥ 0.5) maps v to v^κ and a dark one
// to 1 − (1 − v)^κ, tabulated at v = j / 2048.
TEST(maskTable, everyEntryIsTheExactResponseRoundedToFloat) {
    constexpr int n = toneMappingTables_t::kTmTableSide;
    for (double strength : {0.0, 0.45, 1.0}) {
        toneMappingSettings_t s;
        ASSERT_TRUE(s.tables.allocate());
        s.maskStrength = strength;
        rebuildToneMappingTables(s, toneMappingChange::maskStrength);
        ASSERT_EQ(s.tables.tmTable.size(), size_t(n) * n);
        double worst = 0;
        for (int r = 0; r < n; ++r) {
            const double x = r / double(n);
            const double kappa = std::pow(10.0, std::fabs(2 * x - 1) * 0.6 * strength);
            for (int j = 0; j < n; ++j) {
                const double v = j / double(n);
                const double exact = x >= 0.5 ? std::pow(v, kappa) : 1 - std::pow(1 - v, kappa);
                const double entry = s.tables.tmTable[size_t(r) * n + j];
                if (exact == 0) {
                    ASSERT_EQ(entry, 0.0) << r << " " << j;
                    continue;
                }
                worst = std::max(worst, std::fabs(entry - exact) / exact);
            }
        }
        // Round to nearest float: half a unit in the last place, 2^-24 relative, plus the double
        // arithmetic's own few ulps.
        EXPECT_LE(worst, 0x1p-24 * 1.0001) << "strength " << strength;
    }
}

namespace {

// Every 16-bit level in grey and two colours, over 64 neighbourhood brightnesses that visit the
// whole table; the rest of the chain at the default look with neutral colour.
struct sweep_t {
    static constexpr int w = 65536, h = 6;
    std::vector<float> hdr = std::vector<float>(size_t(w) * h * 3);
    std::vector<uint16_t> mask = std::vector<uint16_t>(size_t(w) * h);
    toneMapSource_t source;

    sweep_t() {
        const float tint[3][3] = {{1, 1, 1}, {1, 0.55f, 0.2f}, {0.25f, 0.6f, 1}};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t i = size_t(y) * w + x;
                for (int c = 0; c < 3; ++c)
                    hdr[i * 3 + c] = float(x / 65535.0) * tint[y % 3][c];
                // 64 neighbourhoods per level; rows 0 … 2046 of the table (2047 and up switch Mask off).
                mask[i] = uint16_t(((x * 61 + y * 4099) % 2047) << 4);
            }
        source.width = w;
        source.height = h;
        source.hdr = hdr.data();
        source.maskPlane = mask.data();
        source.hdrMean = 0.15;
        source.lcCorrection = 0.9;
    }
};

std::vector<uint16_t> render(toneMappingSettings_t& s, const toneMapSource_t& source) {
    std::vector<uint16_t> out(size_t(source.width) * source.height * 3);
    EXPECT_TRUE(runToneMapping(s, source, out.data(), nullptr, false));
    return out;
}

} // namespace

// Moving every entry by a whole unit in the last place of its float (twice the most the rounding
// moves it) changes no sample by more than one 16-bit code and hardly any 8-bit output value; with
// the entries one unit off the other way, the same. So the float table gives the output of the
// exact response within that bound.
TEST(maskTable, aLastBitOfTheEntriesMovesNoOutputValue) {
    sweep_t sweep;
    for (double strength : {0.3, 1.0}) {
        toneMappingSettings_t s;
        ASSERT_TRUE(s.tables.allocate());
        s.localContrastEnabled = false;
        s.maskEnabled = true;
        s.maskStrength = strength;
        s.sharpness = 0;
        rebuildToneMappingTables(s, toneMappingChange::everything);
        const std::vector<uint16_t> base = render(s, sweep.source);
        // The sweep must exercise the table: Mask off gives a clearly different picture.
        s.maskEnabled = false;
        const std::vector<uint16_t> off = render(s, sweep.source);
        s.maskEnabled = true;
        size_t moved = 0;
        for (size_t i = 0; i < base.size(); ++i)
            moved += std::abs(int(base[i]) - int(off[i])) > 128;
        EXPECT_GT(moved, base.size() / 4) << "the sweep does not reach the mask table";

        const std::vector<float> table(s.tables.tmTable.begin(), s.tables.tmTable.end());
        for (float direction : {1.0f, -1.0f}) {
            for (size_t k = 0; k < table.size(); ++k)
                s.tables.tmTable[k] = std::clamp(std::nextafter(table[k], direction * 2.0f), 0.0f, 1.0f);
            const std::vector<uint16_t> nudged = render(s, sweep.source);
            int worst16 = 0;
            size_t differing16 = 0, differing8 = 0;
            for (size_t i = 0; i < base.size(); ++i) {
                const int d = std::abs(int(base[i]) - int(nudged[i]));
                worst16 = std::max(worst16, d);
                differing16 += d != 0;
                differing8 += (base[i] >> 7) != (nudged[i] >> 7);
            }
            EXPECT_LE(worst16, 1) << "strength " << strength << " direction " << direction;
            EXPECT_LE(differing16, base.size() / 200) << "strength " << strength;
            EXPECT_LE(differing8, base.size() / 10000) << "strength " << strength;
        }
    }
}
