#pragma once
// Camera RAW files through LibRaw, linked in: the information of a file (output sizes, camera data,
// white-balance multipliers), its embedded preview, and the decode into the working scale.
//
// Files are opened read-only, refused unless they are regular files, and mapped; LibRaw then reads
// the mapped bytes, so the same code serves files and bytes already in memory (the fuzz target).
// Every call makes its own LibRaw object (the reentrant build), so several files may be read at once
// on different threads. Information calls run on the main thread during photo preparation, decodes on
// the photo's load worker, which may cancel them through its run context.

#include "imageio/exifInfo.h"

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

/// What the converter tells about a RAW file before it is decoded.
struct rawInfo_t {
    /// Output size of a full decode, after the camera's rotation.
    int width = 0;
    int height = 0;
    /// Output size of a half-size decode (0 unless asked for).
    int halfWidth = 0;
    int halfHeight = 0;
    /// Multipliers of the sensor's channels (R, G, B, G2 on the usual sensors) for daylight and those
    /// the camera recorded ("as shot"); the fourth is 0 when the file gives none.
    double daylightMultipliers[4] = {0, 0, 0, 0};
    double cameraMultipliers[4] = {0, 0, 0, 0};
    /// Colours of the sensor: 3, or 4 for sensors of four different filters (CMYG and the like), whose
    /// colours a converted R, G, B picture cannot give back.
    int colors = 3;
    /// The sensor has a colour filter array (a mosaic to interpolate).
    bool filterPattern = false;
    /// The camera's rotation of decoded pictures (LibRaw's flip: bit 4 swaps rows and columns, bit 2
    /// mirrors the rows, bit 1 the columns); embedded previews are stored unturned.
    int flip = 0;
    /// Camera R, G, B (after the multipliers) → linear sRGB output, rows R, G, B; the identity for
    /// sensors of other than three colours, whose matrix is not used for picking.
    double cameraToRgb[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

namespace halvora {

/// Information of `fileName`: sizes (and the half-size sizes when `wantHalfSize`), multipliers, and the
/// camera make and model, time stamp ("YYYY:MM:DD HH:MM:SS"), focal length, ISO, F-number and exposure
/// time into `exif` (other fields untouched). Logs "S = %d x %d\n" and "SH = %d x %d\n". False with a
/// reason when the file cannot be read, is no RAW file LibRaw knows, reports no size, or makes
/// LibRaw crash while reading its header.
bool getRAWinfo_DCRAW(const QString& fileName, bool wantHalfSize, rawInfo_t& info, exifInfo_t& exif,
                      QString* error = nullptr);
/// The same from `length` bytes at `data`; `fileName` only names them in messages.
bool getRAWinfoFromMemory(const uint8_t* data, size_t length, const QString& fileName, bool wantHalfSize,
                          rawInfo_t& info, exifInfo_t& exif, QString* error = nullptr);

/// Whether the information and preview calls first let a child process read the file's header, so
/// that a crash of LibRaw's parsers on a crafted file refuses the file instead of ending the program
/// (on by default; the fuzz target turns it off to reach LibRaw directly). Any thread.
void setRawIdentificationIsolated(bool isolated);

/// The embedded preview of `fileName` (usually a JPEG), decoded, as stored (not turned). False with a
/// reason when there is none or it cannot be decoded.
bool getThumbFromRAW_DCRAW(const QString& fileName, QImage& thumbnail, QString* error = nullptr);
/// The same from bytes in memory.
bool getThumbFromRAWmemory(const uint8_t* data, size_t length, const QString& fileName, QImage& thumbnail,
                           QString* error = nullptr);

/// The stored (unturned) pixel of a picture stored `width` × `height` that a decode turned by `flip`
/// (rawInfo_t::flip) shows at (x, y).
inline QPoint storedRawPixel(int x, int y, int flip, int width, int height) {
    int row = flip & 4 ? x : y, col = flip & 4 ? y : x;
    if (flip & 2) row = height - 1 - row;
    if (flip & 1) col = width - 1 - col;
    return QPoint(col, row);
}

/// Mean sensor values (black subtracted, before any multiplier or colour matrix) of each of the
/// sensor's channels over the (2 × radius + 1)² square of the half-size picture around the point at
/// `relative` (0 … 1 of the picture's width and height): of the picture as decoded (after the camera's
/// rotation) when `turned`, else of the picture as stored, as embedded previews are. `colors` tells how
/// many channels were measured; pixels where a channel is clipped are left out. For picking grey on
/// sensors whose colours a converted picture cannot give back. False with a reason when the file
/// cannot be read, the point is off the picture, or the square holds no unclipped pixel with every
/// channel above black.
bool rawAreaChannelMeans(const QString& fileName, QPointF relative, bool turned, int radius, double means[4],
                         int& colors, QString* error = nullptr);
/// The same from bytes in memory.
bool rawAreaChannelMeansFromMemory(const uint8_t* data, size_t length, const QString& fileName,
                                   QPointF relative, bool turned, int radius, double means[4], int& colors,
                                   QString* error = nullptr);

/// Decodes `fileName` with the converter options `args` (buildDcrawArgs) into exactly one destination:
/// `rgb16`, width × height × 3 samples of the working scale (8-bit samples × 128, 16-bit samples halved
/// and clamped to 32640, as the TIFF reader does), or `rgb8`, width × height × 3 bytes (16-bit samples by
/// their high byte). The picture must have the size the information call reported for these options,
/// else the load fails ("DCRAW - cannot load data"). Polls the run's cancel flag and adds `height` to
/// its progress. Called on a load worker; the conversion runs on the threading helper.
bool loadRAW_DCRAW(const QString& fileName, const QStringList& args, int width, int height, uint16_t* rgb16,
                   uint8_t* rgb8, QString* error = nullptr);
/// The same from bytes in memory.
bool loadRAWfromMemory(const uint8_t* data, size_t length, const QString& fileName, const QStringList& args,
                       int width, int height, uint16_t* rgb16, uint8_t* rgb8, QString* error = nullptr);

} // namespace halvora
