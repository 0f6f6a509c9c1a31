#pragma once
// The projective transform of one photo from its matched corners: a randomised search draws sets
// of four well-spread corners with trusted matches, solves the exact transform through slightly
// jittered copies of them many times, counts the corners each candidate maps onto their matches,
// keeps the ten best candidates and averages those close to the best.
//
// Each photo's search draws from its own generator seeded by the photo's index, so the same photos
// give the same transform in every run and with any number of threads. findTransform runs on one
// thread (autoAlign gives each photo a thread of its own); corner and match lists are borrowed.

#include "align/alignTransform.h"
#include "align/alignmentTile.h"
#include "align/fastCorners.h"

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace halvora {

/// Pin sets tried per photo, trials per pin set, candidates kept.
inline constexpr int kPinSets = 200;
inline constexpr int kTrialsPerPinSet = 400;
inline constexpr int kBestCandidates = 10;

/// Four corresponding positions on the reference and on the photo (pins of manual alignment).
struct alignPinSet {
    alignPoint reference[4];
    alignPoint photo[4];
};

/// Small deterministic generator (PCG32): the search's only source of chance.
class alignRandom {
public:
    explicit alignRandom(uint64_t seed);
    uint32_t next();

private:
    uint64_t state_ = 0;
};

/// Seed of the generator of photo `photoIndex`.
uint64_t alignSeedFor(int photoIndex);

struct findTransform_threadParams_t {
    // In
    int photoIndex = 0;
    int width = 0, height = 0; ///< picture size (minimum pin distances)
    const std::vector<alignCorner>* corners = nullptr;
    const std::vector<alignMatch>* matches = nullptr; ///< one per corner
    double inlierTolerance = 0.4;
    // Out
    bool ok = false;
    bool cancelled = false;
    alignTransform transform; ///< identity unless ok
    alignPinSet pins;         ///< the best candidate's pin set, unjittered (when pinsFound)
    bool pinsFound = false;
    int maxInliers = 0, neededInliers = 0;
    QString reason;                    ///< why it failed, for the photo's message
    std::vector<std::string> logLines; ///< written by the caller in photo order after the wait
};

/// The least-squares map through the inliers of `start` (corners whose match lies within ±s in both
/// coordinates), repeated while that keeps at least as many inliers with a smaller error; `start`
/// itself when nothing better is found.
alignTransform refineTransform(const alignTransform& start, const std::vector<alignCorner>& corners,
                               const std::vector<alignMatch>& matches, double inlierTolerance);

/// The search for one photo (steps 1 to 5 of the estimation). Fills the record's results; true on
/// success. Adds kPinSets units to the run's progress.
bool findTransform(findTransform_threadParams_t& p);

} // namespace halvora
