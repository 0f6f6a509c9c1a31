#include "hdr/genHDR_options.h"

#include "app/commandLineOptions.h"
#include "app/programOptionsSettings.h"
#include "hdr/generateHDRworker.h"

#include <algorithm>

genHDR_options genHDR_options::fromSettings(const programOptionsSettings& s, bool ldrEnhancement) {
    genHDR_options o;
    o.ldrEnhancement = ldrEnhancement;
    o.autoAlign = s.generateHdrAutoAlign;
    o.method = s.generateHdrMethod;
    o.selectivity = s.generateHdrTrueHdrSelectivity;
    o.smartMergeStrength = s.generateHdrSmartMergeStrength;
    o.ghostRemoval = s.generateHdrGhostRemoval;
    o.ghostRemovalMode = s.generateHdrGhostRemovalMode;
    o.repairOverUnder = s.generateHdrGhostRemovalRepair;
    if (ldrEnhancement) {
        o.noiseFilter = s.enhanceLdrNoiseFilter;
        o.noiseStrength = s.enhanceLdrNoiseFilterStrength;
        o.noiseSoftness = s.enhanceLdrNoiseFilterSoftness;
    } else {
        o.noiseFilter = s.generateHdrNoiseFilter;
        o.noiseStrength = s.generateHdrNoiseFilterStrength;
        o.noiseSoftness = s.generateHdrNoiseFilterSoftness;
    }
    o.normalize();
    return o;
}

genHDR_options genHDR_options::forAutomaticRun(const commandLineOptions& cl, bool ldrEnhancement) {
    genHDR_options o;
    o.ldrEnhancement = ldrEnhancement;
    o.autoAlign = cl.autoAlign;
    o.method = 0;
    o.selectivity = 2;
    o.ghostRemoval = cl.autoDeghost;
    o.ghostRemovalMode = 0;
    o.repairOverUnder = true;
    o.noiseFilter = cl.noiseFilter;
    o.noiseStrength = cl.noiseStrength1;
    o.noiseSoftness = cl.noiseStrength2;
    o.normalize();
    return o;
}

bool genHDR_options::storeTo(programOptionsSettings& s, bool automaticRun) const {
    if (automaticRun)
        return false;
    genHDR_options o = *this;
    o.normalize();
    if (o.ldrEnhancement) {
        s.enhanceLdrNoiseFilter = o.noiseFilter;
        s.enhanceLdrNoiseFilterStrength = o.noiseStrength;
        s.enhanceLdrNoiseFilterSoftness = o.noiseSoftness;
        return true;
    }
    s.generateHdrAutoAlign = o.autoAlign;
    s.generateHdrMethod = o.method;
    s.generateHdrTrueHdrSelectivity = o.selectivity;
    s.generateHdrSmartMergeStrength = o.smartMergeStrength;
    s.generateHdrGhostRemoval = o.ghostRemoval;
    s.generateHdrGhostRemovalMode = o.ghostRemovalMode;
    s.generateHdrGhostRemovalRepair = o.repairOverUnder;
    s.generateHdrNoiseFilter = o.noiseFilter;
    s.generateHdrNoiseFilterStrength = o.noiseStrength;
    s.generateHdrNoiseFilterSoftness = o.noiseSoftness;
    return true;
}

void genHDR_options::normalize() {
    if (method < 0 || method > 2)
        method = 0;
    if (selectivity < 0 || selectivity > 3)
        selectivity = 2;
    smartMergeStrength = std::clamp(smartMergeStrength, 0, 5);
    if (ghostRemovalMode < 0 || ghostRemovalMode > 1)
        ghostRemovalMode = 0;
    noiseStrength = std::clamp(noiseStrength, 1, 10);
    noiseSoftness = std::clamp(noiseSoftness, 1, 10);
}

void genHDR_options::applyTo(generateHDRworker& w) const {
    w.noiseFilterEnabled = noiseFilter;
    w.noiseFilterStrength = noiseStrength;
    w.noiseFilterSoftness = noiseSoftness;
    if (ldrEnhancement)
        return;
    w.method = method;
    w.selectivity = selectivity;
    w.smartMergeStrength = smartMergeStrength;
    w.ghostRemovalEnabled = ghostRemoval;
    w.ghostRemovalMode = ghostRemovalMode;
    w.repairOverUnder = repairOverUnder;
    w.saveHDR = saveHDR && !hdrFileName.isEmpty();
    w.hdrOutputFileName = hdrFileName;
}
