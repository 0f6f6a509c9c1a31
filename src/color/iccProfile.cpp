#include "color/iccProfile.h"

#include "base/failure.h"
#include "color/lcmsErrors.h"

#include <QFile>
#include <QSaveFile>
#include <cstring>
#include <lcms2.h>

namespace halvora {

namespace {

// Header (128 bytes) plus the tag count.
constexpr qint64 kMinProfileBytes = 132;
// Far above any real profile (large printer tables run to a few MiB); anything bigger is not one.
constexpr qint64 kMaxProfileBytes = 64 << 20;
constexpr int kInfoChars = 63;

uint32_t bigEndian32(const QByteArray& data, qint64 at) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData()) + at;
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

QString signatureText(uint32_t sig) {
    QString s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((sig >> shift) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? QChar(c) : QChar('?');
    }
    return s;
}

/// Why `data` cannot be an ICC profile, checked before the library reads it; empty when it may be.
/// `declared` receives the profile length the header declares.
QString structureProblem(const QByteArray& data, qint64& declared) {
    const qint64 length = data.size();
    if (length < kMinProfileBytes) return QString("too short for a colour profile (%1 bytes)").arg(length);
    if (bigEndian32(data, 36) != 0x61637370) // 'acsp'
        return "not an ICC colour profile (no 'acsp' signature)";
    declared = bigEndian32(data, 0);
    if (declared < kMinProfileBytes || declared > kMaxProfileBytes)
        return QString("declares an impossible length of %1 bytes").arg(declared);
    if (declared > length)
        return QString("truncated: declares %1 bytes but holds only %2").arg(declared).arg(length);
    const qint64 tags = bigEndian32(data, 128);
    if (tags > (declared - kMinProfileBytes) / 12)
        return QString("its table of %1 tags runs past the end of the profile").arg(tags);
    for (qint64 i = 0; i < tags; ++i) {
        const qint64 entry = kMinProfileBytes + 12 * i;
        const qint64 offset = bigEndian32(data, entry + 4);
        const qint64 size = bigEndian32(data, entry + 8);
        if (offset < kMinProfileBytes || offset + size > declared)
            return QString("tag '%1' lies outside the profile (offset %2, %3 bytes, profile %4 bytes)")
                .arg(signatureText(bigEndian32(data, entry)))
                .arg(offset)
                .arg(size)
                .arg(declared);
    }
    return QString();
}

QString infoText(cmsHPROFILE handle, cmsInfoType which) {
    char buffer[kInfoChars + 1] = {};
    if (cmsGetProfileInfoASCII(handle, which, cmsNoLanguage, cmsNoCountry, buffer, sizeof buffer) == 0)
        return "-";
    buffer[kInfoChars] = 0;
    // The texts come from the file: keep them printable for logs and labels.
    QString text;
    for (const char* p = buffer; *p; ++p)
        text += (*p >= 0x20 && *p < 0x7F) ? QChar(*p) : QChar('?');
    return text.isEmpty() ? QString("-") : text;
}

QByteArray serialised(cmsHPROFILE handle) {
    cmsUInt32Number bytes = 0;
    if (!cmsSaveProfileToMem(handle, nullptr, &bytes) || bytes == 0) return QByteArray();
    QByteArray data(qsizetype(bytes), Qt::Uninitialized);
    if (!cmsSaveProfileToMem(handle, data.data(), &bytes)) return QByteArray();
    return data;
}

/// The bytes of a built profile with a fixed creation date and the profile ID that goes with it,
/// so that the same definition always gives the same file (reproducible builds, and equal profiles
/// recognised as equal).
QByteArray stampedBytes(cmsHPROFILE built) {
    QByteArray data = serialised(built);
    if (data.size() < kMinProfileBytes) return QByteArray();
    // Header bytes 24 … 35: year, month, day, hours, minutes, seconds as big-endian 16-bit numbers.
    static const unsigned char date[12] = {0x07, 0xE8, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0}; // 2024-01-01 00:00:00
    std::memcpy(data.data() + 24, date, sizeof date);
    std::unique_ptr<void, void (*)(void*)> dated(
        cmsOpenProfileFromMem(data.constData(), cmsUInt32Number(data.size())),
        [](void* h) { cmsCloseProfile(h); });
    if (!dated || !cmsMD5computeID(dated.get())) return QByteArray();
    return serialised(dated.get());
}

bool writeText(cmsHPROFILE handle, cmsTagSignature sig, const QString& text) {
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    if (!mlu) return false;
    const QByteArray ascii = text.toLatin1();
    const bool ok = cmsMLUsetASCII(mlu, "en", "US", ascii.constData()) && cmsWriteTag(handle, sig, mlu);
    cmsMLUfree(mlu);
    return ok;
}

} // namespace

transferCurve_t transferCurve_t::gamma(double g) {
    transferCurve_t c;
    c.type = 1;
    c.params[0] = g;
    return c;
}

transferCurve_t transferCurve_t::piecewise(double g, double a, double b, double c, double d) {
    transferCurve_t t;
    t.type = 4;
    t.params[0] = g;
    t.params[1] = a;
    t.params[2] = b;
    t.params[3] = c;
    t.params[4] = d;
    return t;
}

void iccProfile::closer::operator()(void* handle) const {
    cmsCloseProfile(handle);
}

iccProfile::iccProfile() = default;
iccProfile::~iccProfile() = default;
iccProfile::iccProfile(iccProfile&& other) noexcept = default;
iccProfile& iccProfile::operator=(iccProfile&& other) noexcept = default;

iccProfile iccProfile::fromFile(const QString& path, QString* error) {
    static const char* const who = "iccProfile::fromFile";
    QFile file(path);
    if (!file.exists()) {
        fail(error, who, path, "no such file");
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, who, path, "cannot be opened: " + file.errorString());
        return {};
    }
    const qint64 size = file.size();
    if (size > kMaxProfileBytes) {
        fail(error, who, path, QString("too large for a colour profile (%1 bytes)").arg(size));
        return {};
    }
    const QByteArray data = file.read(size);
    if (data.size() != size) {
        fail(error, who, path, "cannot be read: " + file.errorString());
        return {};
    }
    return fromData(data, path, error);
}

iccProfile iccProfile::fromData(const QByteArray& data, const QString& origin, QString* error) {
    qint64 declared = 0;
    const QString problem = structureProblem(data, declared);
    if (!problem.isEmpty()) {
        fail(error, "iccProfile::fromData", origin, problem);
        return {};
    }
    iccProfile profile;
    profile.data_ = data.left(declared);
    profile.origin_ = origin;
    lcmsErrorCapture capture;
    profile.handle_.reset(cmsOpenProfileFromMem(profile.data_.constData(), cmsUInt32Number(declared)));
    if (!profile.handle_) {
        fail(error, "iccProfile::fromData", origin, capture.reason("not a readable colour profile"));
        return {};
    }
    return profile;
}

iccProfile iccProfile::fromChromaticities(const chromaticities_t& c, const transferCurve_t& curve,
                                          const profileInfo_t& texts, QString* error) {
    static const char* const who = "iccProfile::fromChromaticities";
    const QString problem = chromaticitiesProblem(c);
    if (!problem.isEmpty()) {
        fail(error, who, texts.description, problem);
        return {};
    }
    lcmsErrorCapture capture;
    // Chromaticities only: the colorants are scaled so that RGB (1, 1, 1) is the white with Y = 1.
    const cmsCIExyY white = {c.whiteX, c.whiteY, 1.0};
    const cmsCIExyYTRIPLE primaries = {
        {c.redX, c.redY, 1.0}, {c.greenX, c.greenY, 1.0}, {c.blueX, c.blueY, 1.0}};
    std::unique_ptr<cmsToneCurve, void (*)(cmsToneCurve*)> tone(
        cmsBuildParametricToneCurve(nullptr, curve.type, curve.params), cmsFreeToneCurve);
    if (!tone) {
        fail(error, who, texts.description, capture.reason("the transfer curve cannot be built"));
        return {};
    }
    cmsToneCurve* const curves[3] = {tone.get(), tone.get(), tone.get()};
    std::unique_ptr<void, closer> built(cmsCreateRGBProfile(&white, &primaries, curves));
    if (!built) {
        fail(error, who, texts.description, capture.reason("the profile cannot be built"));
        return {};
    }
    if (!writeText(built.get(), cmsSigProfileDescriptionTag, texts.description) ||
        !writeText(built.get(), cmsSigDeviceMfgDescTag, texts.manufacturer) ||
        !writeText(built.get(), cmsSigDeviceModelDescTag, texts.model) ||
        !writeText(built.get(), cmsSigCopyrightTag, texts.copyright)) {
        fail(error, who, texts.description, capture.reason("the profile's texts cannot be written"));
        return {};
    }
    const QByteArray data = stampedBytes(built.get());
    if (data.isEmpty()) {
        fail(error, who, texts.description, capture.reason("the profile cannot be serialised"));
        return {};
    }
    // Reopened from its bytes, the profile behaves exactly as the file it will be saved to.
    return fromData(data, texts.description, error);
}

uint32_t iccProfile::colorSpace() const {
    return handle_ ? uint32_t(cmsGetColorSpace(handle_.get())) : 0;
}

bool iccProfile::isRgb() const {
    return colorSpace() == uint32_t(cmsSigRgbData);
}

profileInfo_t iccProfile::info() const {
    profileInfo_t i;
    if (!handle_) {
        i.description = i.manufacturer = i.model = i.copyright = "-";
        return i;
    }
    i.description = infoText(handle_.get(), cmsInfoDescription);
    i.manufacturer = infoText(handle_.get(), cmsInfoManufacturer);
    i.model = infoText(handle_.get(), cmsInfoModel);
    i.copyright = infoText(handle_.get(), cmsInfoCopyright);
    return i;
}

bool iccProfile::saveToFile(const QString& path, QString* error) const {
    static const char* const who = "iccProfile::saveToFile";
    if (data_.isEmpty()) return fail(error, who, path, "there is no profile to save");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(error, who, path, "cannot be created: " + file.errorString());
    if (file.write(data_) != data_.size() || !file.commit())
        return fail(error, who, path, "cannot be written: " + file.errorString());
    return true;
}

QString profileDescription(const iccProfile& profile) {
    return profile.info().description;
}

QString profileSummaryHtml(const iccProfile& profile) {
    const profileInfo_t i = profile.info();
    return "<b>" + i.description.toHtmlEscaped() + "</b><br>" + i.manufacturer.toHtmlEscaped() + "<br>" +
           i.model.toHtmlEscaped() + "<br>" + i.copyright.toHtmlEscaped();
}

} // namespace halvora
