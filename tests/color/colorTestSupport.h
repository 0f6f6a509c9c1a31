#pragma once
// Profiles and files the colour tests share: the shipped profiles the build writes, and profiles
// made on the spot with LittleCMS that the program must cope with (not RGB, no tags, a raised black).

#include <QByteArray>
#include <QString>

namespace colorTest {

/// Folder of the shipped profiles the build wrote.
QString profileDir();
/// Bytes of a shipped profile file ("sRGB.icm", …).
QByteArray shippedBytes(const char* file);

/// An output-class CMYK profile header without tags.
QByteArray cmykProfile();
/// A grey display profile (D50, gamma 2.2).
QByteArray greyProfile();
/// An RGB display profile with no tags at all: it opens, but nothing can be converted with it.
QByteArray taglessRgbProfile();
/// An RGB input-class (scanner) profile with sRGB primaries whose media white point is D65.
QByteArray scannerProfileD65White();
/// An RGB display profile (sRGB primaries, D65) whose black is raised to a luminance of about 2 %.
QByteArray raisedBlackRgbProfile();
/// An RGB profile whose curves are a 1024-entry table (as calibration software writes).
QByteArray tabulatedProfile();
/// Adobe RGB primaries with a different gamma per channel (1.8, 2.2, 2.6), as a calibrated monitor can
/// have: no channel may borrow another's curve.
QByteArray perChannelGammaProfile();

} // namespace colorTest
