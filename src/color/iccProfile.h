#pragma once
// One ICC colour profile, opened with LittleCMS and kept together with its bytes (which are what a
// saved picture embeds and what tells two profiles apart). Profiles come from files (the shipped
// ones, a photo's embedded copy, a monitor profile), from the bytes of a file, or are built from
// chromaticities and a transfer curve (the shipped profiles at build time, a radiance file's own
// primaries).
//
// Files are treated as hostile: the header, the tag table and every tag's place are checked against
// the real length before LittleCMS sees the bytes, so a truncated or corrupt profile is refused with
// a reason, never read past its end.
//
// A profile is opened, used to make transforms and closed on one thread at a time; the transforms
// keep what they need, so a profile may be dropped once they exist.

#include "color/chromaticities.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

namespace halvora {

/// A LittleCMS parametric curve (type 1 … 5 of cmsBuildParametricToneCurve) from encoded to linear
/// values. Type 1: y = x^g. Type 4: y = (a·x + b)^g for x ≥ d, else c·x.
struct transferCurve_t {
    int type = 1;
    double params[7] = {1.0};

    /// y = x^gamma.
    static transferCurve_t gamma(double g);
    /// A power law with a straight segment at the foot: y = (a·x + b)^g above d, c·x below.
    static transferCurve_t piecewise(double g, double a, double b, double c, double d);
};

/// The four info texts a profile carries (each at most 63 characters; a missing one is "-").
struct profileInfo_t {
    QString description;
    QString manufacturer;
    QString model;
    QString copyright;
};

class iccProfile {
public:
    iccProfile();
    ~iccProfile();
    iccProfile(iccProfile&& other) noexcept;
    iccProfile& operator=(iccProfile&& other) noexcept;

    /// Reads and opens the profile file at `path`; on failure an empty profile and "<path>: <reason>".
    static iccProfile fromFile(const QString& path, QString* error);
    /// Opens a profile from its bytes; `origin` names where they came from in messages.
    static iccProfile fromData(const QByteArray& data, const QString& origin, QString* error);
    /// Builds an RGB display profile (D50 connection space, white adapted with the Bradford transform)
    /// from the chromaticities and one transfer curve for all three channels, carrying `texts` as its
    /// info texts. Refuses chromaticities that chromaticitiesProblem() finds fault with.
    static iccProfile fromChromaticities(const chromaticities_t& c, const transferCurve_t& curve,
                                         const profileInfo_t& texts, QString* error);

    bool valid() const { return handle_ != nullptr; }
    /// The LittleCMS handle (cmsHPROFILE), owned by this object.
    void* handle() const { return handle_.get(); }
    /// The file or source named when the profile was made.
    const QString& origin() const { return origin_; }
    /// The profile's bytes, exactly as a file holding it would.
    const QByteArray& data() const { return data_; }

    /// ICC colour-space signature of the device side ('RGB ' = 0x52474220).
    uint32_t colorSpace() const;
    bool isRgb() const;
    /// Description, manufacturer, model and copyright as ASCII.
    profileInfo_t info() const;
    /// Writes the profile to `path` through a temporary file that replaces it only when complete.
    bool saveToFile(const QString& path, QString* error) const;

private:
    struct closer {
        void operator()(void* handle) const;
    };
    std::unique_ptr<void, closer> handle_;
    QByteArray data_;
    QString origin_;
};

/// The description text of a profile as the program shows and compares it.
QString profileDescription(const iccProfile& profile);
/// "<b>description</b><br>manufacturer<br>model<br>copyright", each text HTML-escaped.
QString profileSummaryHtml(const iccProfile& profile);

} // namespace halvora
