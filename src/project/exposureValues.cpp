#include "project/exposureValues.h"

#include "base/debugLog.h"
#include "project/processingProject.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

namespace halvora {

namespace {

// EXIF values can be anything a camera or a hostile file wrote; non-finite ones count as unknown.
double finiteOrZero(double v) {
    return std::isfinite(v) ? v : 0.0;
}

bool evEditable(const processingProject& project) {
    return !project.photos.empty() && !project.photos.front()->isRadiance;
}

// The photo list refreshes with re-normalisation after every change of EV source or value.
void refreshEVs(processingProject& project) {
    project.normalizeEV();
    project.invalidateResponseCurve();
}

} // namespace

double evFromExposure(double t, double n, double s, bool& valid) {
    t = finiteOrZero(t);
    n = finiteOrZero(n);
    s = finiteOrZero(s);
    if (t == 0.0 && n == 0.0 && s == 0.0) {
        valid = false;
        return 0.0;
    }
    if (!(t >= 1e-9)) t = 1.0;
    if (!(n >= 1e-9)) n = 1.0;
    if (!(s >= 1e-9)) s = 100.0;
    valid = true;
    return std::log(t / (n * n) * s / 100.0) / std::log(2.0);
}

QStringList evStepEntries() {
    QStringList entries{"-"};
    for (int i = 0; i < 4; ++i) {
        for (double frac : {0.33, 0.5, 0.67})
            entries << QString::number(i + frac, 'g');
        entries << QString::number(i + 1);
    }
    return entries;
}

double evStepValue(int index) {
    const QStringList entries = evStepEntries();
    if (index <= 0 || index >= entries.size()) return 0.0;
    return entries[index].toDouble();
}

bool setEVsFromExif(processingProject& project) {
    if (!evEditable(project)) return false;
    for (auto& photo : project.photos)
        photo->ev = photo->exifEV;
    refreshEVs(project);
    return true;
}

bool setEVsFromAEB(processingProject& project) {
    if (!evEditable(project)) return false;
    for (auto& photo : project.photos)
        photo->ev = photo->aebEV;
    refreshEVs(project);
    return true;
}

bool setEVsEvenSteps(processingProject& project, int index) {
    const double step = evStepValue(index);
    if (step == 0.0 || !evEditable(project)) return false;
    const int n = int(project.photos.size());
    for (auto& photo : project.photos)
        photo->ev = step * double(n / 2 - photo->brightnessRank);
    refreshEVs(project);
    return true;
}

bool setEVsManual(processingProject& project, const std::vector<double>& values) {
    if (!evEditable(project) || values.size() != project.photos.size()) return false;
    for (size_t i = 0; i < values.size(); ++i)
        project.photos[i]->ev = finiteOrZero(values[i]);
    refreshEVs(project);
    return true;
}

evChoice chooseEVsAfterLoading(processingProject& project) {
    evChoice choice;
    project.computeEV();
    if (!evEditable(project)) return choice;
    if (project.exifEVvalid) {
        setEVsFromExif(project);
        choice.chosen = evChoice::fromExif;
    } else if (project.aebEVdistinct) {
        setEVsFromAEB(project);
        choice.chosen = evChoice::fromAEB;
    } else {
        choice.comboIndex = project.photos.size() <= 3 ? 8 : 4;
        setEVsEvenSteps(project, choice.comboIndex);
        choice.chosen = evChoice::evenSteps;
        choice.warning =
            "No complete EXIF data found in input photos. Providing correct EV values is necessary "
            "for proper calibration.";
    }
    return choice;
}

QStringList evChecksBeforeGeneration(processingProject& project, bool exifChecked, bool& switchedToAEB) {
    QStringList warnings;
    switchedToAEB = false;
    if (project.checkAEBconsistency() && exifChecked) {
        setEVsFromAEB(project);
        switchedToAEB = true;
        warnings
            << "The EV calculated from EXIF values seem to be incorrect (bad values written by the camera?). "
               "Instead, the AEB EV values are now taken directly from EXIF.";
    }
    if (project.checkEVminDiff())
        warnings << "Warning! There are photos that have the same EV value. It is all right as far as it was "
                    "intended.";
    return warnings;
}

} // namespace halvora

void processingProject::computeEV() {
    responseCurveValid = false; // the photos changed
    if (photos.empty()) return;

    // Hundredths of the exposure bias, truncated; two equal keys make the AEB values unusable.
    aebEVdistinct = true;
    std::vector<int64_t> keys;
    for (auto& photo : photos) {
        const double bias = std::clamp(halvora::finiteOrZero(photo->exif.exposureBias), -1.0e6, 1.0e6);
        const int64_t key = int64_t(bias * 100.0);
        if (std::find(keys.begin(), keys.end(), key) != keys.end()) aebEVdistinct = false;
        keys.push_back(key);
    }

    // EXIF EVs are used only when every photo has exposure data: one photo without data would
    // otherwise sit at an arbitrary EV among the others.
    bool allValid = true;
    for (auto& photo : photos) {
        bool valid = false;
        photo->exifEV =
            halvora::evFromExposure(photo->exif.exposureTime, photo->exif.fNumber, photo->exif.iso, valid);
        photo->aebEV = halvora::finiteOrZero(photo->exif.exposureBias);
        if (valid)
            photo->ev = photo->exifEV;
        else if (aebEVdistinct)
            photo->ev = photo->aebEV;
        allValid = allValid && valid;
    }
    exifEVvalid = allValid;

    // Brightest first; a stable sort keeps equal photos in list order.
    std::vector<size_t> order(photos.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        return photos[a]->meanBrightness > photos[b]->meanBrightness;
    });
    for (size_t rank = 0; rank < order.size(); ++rank)
        photos[order[rank]]->brightnessRank = int32_t(rank);

    normalizeEV();
    if (exifEVvalid)
        for (auto& photo : photos)
            photo->exifEV = photo->ev;
}

void processingProject::normalizeEV() {
    if (photos.empty()) return;
    midId = minId = maxId = 0;
    double mean = 0;
    for (auto& photo : photos)
        mean += photo->ev;
    mean /= double(photos.size());

    double best = 0;
    for (size_t i = 0; i < photos.size(); ++i) {
        const double d = std::fabs(photos[i]->ev - mean);
        if (i == 0 || d <= best) { // the later photo wins a tie
            best = d;
            midId = int32_t(i);
        }
    }

    const double ln2 = std::log(2.0);
    const double reference = photos[size_t(midId)]->ev;
    double sum = 0;
    for (size_t i = 0; i < photos.size(); ++i) {
        photoEntry& photo = *photos[i];
        photo.ev -= reference;
        photo.lnExposure = ln2 * photo.ev;
        sum += photo.ev;
        if (i == 0) {
            evMin = evMax = photo.ev;
            minId = maxId = 0;
        } else if (photo.ev < evMin) {
            evMin = photo.ev;
            minId = int32_t(i);
        } else if (photo.ev > evMax) {
            evMax = photo.ev;
            maxId = int32_t(i);
        }
    }
    evMean = sum / double(photos.size());
    lnEvMin = ln2 * evMin;
    lnEvMax = ln2 * evMax;
    lnEvMean = ln2 * evMean;
    debugLog("evMin=%lf, evMax=%lf, evMean=%lf\n", evMin, evMax, evMean);
}

bool processingProject::checkAEBconsistency() {
    if (photos.empty() || !aebEVdistinct) return false;
    const photoEntry& mid = *photos[size_t(std::clamp<int32_t>(midId, 0, int32_t(photos.size()) - 1))];
    bool inconsistent = false;
    for (auto& photo : photos) {
        const double diff = std::fabs((photo->exifEV - mid.exifEV) - (photo->aebEV - mid.aebEV));
        debugLog("AEB EV diff = %0.2f (EV=%0.2f, AEB_EV=%0.2f)\n", diff, photo->exifEV, photo->aebEV);
        if (diff >= 0.5) inconsistent = true;
    }
    return inconsistent;
}

bool processingProject::checkEVminDiff() {
    if (photos.empty()) return false;
    double minDiff = 100.0;
    for (size_t i = 0; i < photos.size(); ++i)
        for (size_t j = i + 1; j < photos.size(); ++j)
            minDiff = std::min(minDiff, std::fabs(photos[i]->ev - photos[j]->ev));
    debugLog("EV minDiff = %0.2f\n", minDiff);
    return minDiff < 0.01;
}

void processingProject::invalidateResponseCurve() {
    debugLog("Invalidating response curve...\n");
    responseCurveValid = false;
}
