#pragma once
// The colour management of one project: the profiles its photos are in (the working profile), the
// monitor's profile and sRGB, and the transforms between them that drawing, thumbnails, colour
// picking and saving use.
//
//   display          working → monitor  R, G, B bytes     8-bit previews and thumbnails
//   display, 32-bit  working → monitor  QImage 32-bit     pictures the workspaces draw
//   reverse display  monitor → working  R, G, B bytes     colours picked on screen
//   to sRGB          working → sRGB     16-bit R, G, B    "Convert to sRGB" when saving (0 … 65535
//                                                         for the result writers, or working scale)
//
// Threads: setupForPhoto() and deleteTransforms() run on one thread while nothing converts (the
// project holds its mutex around them and no run that draws or saves is active). The conversion
// calls are const and may then run on any number of threads at once.

#include "color/chromaticities.h"
#include "color/colorTransform.h"
#include "color/iccProfile.h"
#include "color/profileChoice.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>

class QImage;

namespace halvora {

/// What the set-up for a photo needs, all handed in by the caller.
struct colorSetupRequest_t {
    colorManagementOptions_t options;
    QString profileDir;               ///< folder of the shipped profiles ("<program folder>/color profiles")
    QString photoProfilePath;         ///< the photo's profile copy in the session folder (need not exist)
    bool forceEmbedded = false;       ///< use the photo's own profile whatever InputProfile says
    bool hasCustomPrimaries = false;  ///< the photo is a radiance file that declares its primaries
    chromaticities_t customPrimaries; ///< those primaries (when hasCustomPrimaries)
};

/// What a set-up reports beyond success.
struct colorSetupResult_t {
    /// Which step failed: the box "Error while loading input color profile.", "Error while loading
    /// monitor color profile." or "Failed to create color profile transform." belongs to it.
    enum stage_t {
        stageNone,
        stageInputProfile,
        stageMonitorProfile,
        stageTransforms
    } failedStage = stageNone;
    /// ColorManagement/OutputProfile is to be stored as 1 (sRGB).
    bool resetMonitorChoice = false;
    /// ColorManagement/CustomMonitorProfile is to be stored empty.
    bool clearCustomMonitorProfile = false;
    /// "colour management is off for this photo: <reason>" when the transforms could not be made from
    /// the chosen profiles and sRGB → sRGB stands in for them; given once for the same cause.
    QString notice;
};

class colorManagement {
public:
    colorManagement();
    ~colorManagement();
    colorManagement(const colorManagement&) = delete;
    colorManagement& operator=(const colorManagement&) = delete;

    /// Opens the photo's working profile and the monitor and sRGB profiles and makes the four
    /// transforms. On failure colour management is inactive, `result.failedStage` says where and
    /// `error` why. The option corrections in `result` are to be written back by the caller.
    bool setupForPhoto(const colorSetupRequest_t& request, colorSetupResult_t& result, QString* error);
    /// Drops the transforms; colour management is inactive until the next set-up.
    void deleteTransforms();

    /// The profile a photo's pixels are taken to be in: the photo's copy, the shipped file of the
    /// choice, or one built from a radiance file's primaries and saved as the photo's copy.
    static iccProfile openPhotoProfile(const colorSetupRequest_t& request, QString* error);
    /// The monitor profile of the options and the shipped sRGB profile; refuses a monitor profile
    /// that is not RGB ("The color profile is not RGB."), asking for the options to be reset.
    static bool openOutputProfiles(const colorManagementOptions_t& options, const QString& profileDir,
                                   iccProfile& monitor, iccProfile& srgb, colorSetupResult_t& result,
                                   QString* error);
    /// Makes the four transforms from the open profiles; when LittleCMS cannot make them, makes
    /// sRGB → sRGB ones from `profileDir`'s sRGB instead and explains that in `notice` (once for the
    /// same cause). False only when not even those can be made.
    bool createTransforms(iccProfile working, const iccProfile& monitor, const iccProfile& srgb,
                          const colorManagementOptions_t& options, const QString& profileDir, QString* notice,
                          QString* error);

    /// Transforms exist and conversions change pixels (or are identities between equal profiles).
    bool active() const { return active_; }
    /// The transforms were made from sRGB because the chosen profiles could not be linked.
    bool usingFallback() const { return fallback_; }
    /// Description of the working profile, as photo preparation compares it.
    const QString& workingDescription() const { return workingDescription_; }
    const QString& monitorDescription() const { return monitorDescription_; }
    /// The file of the working profile (embedded in results saved without conversion).
    const QString& workingProfilePath() const { return workingPath_; }
    /// The file of the sRGB profile (embedded in results converted to sRGB).
    const QString& srgbProfilePath() const { return srgbPath_; }

    /// Working → monitor on R, G, B bytes in place (no change while inactive).
    void toMonitor(uint8_t* rgb, size_t pixels) const;
    /// Working → monitor on QImage 32-bit pixels in place; the fourth byte is kept.
    void toMonitor32(uint32_t* argb, size_t pixels) const;
    /// Working → monitor on a whole picture of format RGB888, RGB32 or ARGB32, rows split over the
    /// run's threads. False (picture unchanged) for any other format.
    bool toMonitor(QImage& image) const;
    /// Monitor → working on R, G, B bytes in place.
    void fromMonitor(uint8_t* rgb, size_t pixels) const;
    /// Working → sRGB on R, G, B samples of 0 … 65535 in place (the result writers' row conversion).
    void toSrgb16(uint16_t* rgb, size_t pixels) const;
    /// Working → sRGB on working-scale samples (0 … 32640) in place, rounded to the nearest level, so
    /// full white stays 32640 and is written as 255; samples above 32640 count as 32640.
    void toSrgbWorkingScale(uint16_t* rgb, size_t pixels) const;
    /// The same for a whole w × h working-scale picture, rows split over the run's threads; polls
    /// cancellation and adds one progress unit per row. False when cancelled (partly converted).
    bool toSrgbWorkingScale(uint16_t* rgb, int width, int height) const;

    /// A transform of working-scale photo rows (pixelLayout::working16) from `photo`'s profile into
    /// the working profile, with the set-up's intent; an identity when they are the same profile, null
    /// with a reason when they cannot be linked or colour management is not set up.
    std::unique_ptr<colorTransform> photoToWorking(const iccProfile& photo, QString* error) const;

private:
    bool makeFour(const iccProfile& working, const iccProfile& monitor, const iccProfile& srgb, int intent,
                  bool bpc, QString* error);

    std::unique_ptr<colorTransform> display_, display32_, reverseDisplay_, toSrgb_, toSrgbWorking_;
    iccProfile working_;
    int intent_ = 0;
    bool blackPointCompensation_ = false;
    bool active_ = false;
    bool fallback_ = false;
    QString lastFallbackCause_;
    QString workingDescription_, monitorDescription_, workingPath_, srgbPath_;
};

} // namespace halvora
