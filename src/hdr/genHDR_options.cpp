#include "hdr/genHDR_options.h"

#include <algorithm>

void genHDR_options::normalize() {
    if (method < 0 || method > 2) method = 0;
    if (selectivity < 0 || selectivity > 3) selectivity = 2;
    smartMergeStrength = std::clamp(smartMergeStrength, 0, 5);
    if (ghostRemovalMode < 0 || ghostRemovalMode > 1) ghostRemovalMode = 0;
    noiseStrength = std::clamp(noiseStrength, 1, 10);
    noiseSoftness = std::clamp(noiseSoftness, 1, 10);
}
