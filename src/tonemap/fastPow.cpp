#include "tonemap/fastPow.h"

#include <cmath>

namespace halvora::fastPow {
namespace {

tables_t makeTables() {
    tables_t t{};
    for (int i = 0; i < kTableSize; ++i) {
        t.exp2[i] = double(std::exp2((long double)i / kTableSize));
        // log2 is taken of the rounded reciprocal, so that m × invC − 1 stays consistent with it.
        t.invC[i] = double(1.0L / (1.0L + (long double)i / kTableSize));
        t.log2C[i] = double(-std::log2((long double)t.invC[i]));
    }
    return t;
}

} // namespace

const tables_t kTables = makeTables();

} // namespace halvora::fastPow
