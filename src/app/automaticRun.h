#pragma once
// Decisions of the unattended run (--auto) that do not need a window: where the result goes and
// with which options, and whether the radiance file asked for with --save_hdr can be written.
// Main thread, before the long work starts, so that a bad path fails the run at once.

#include "imageio/saveResultOptions.h"

#include <QString>
#include <QStringList>

struct commandLineOptions;

namespace halvora {

/// The save request of an automatic run. File: --output_fn (a bare name goes into --output_dir when
/// given), else a name made from the inputs in --output_dir or the first input's folder. Format by
/// the name's suffix ("tif"/"tiff" → TIFF, else JPEG); --tiff8/--tiff16 set the TIFF depth and
/// --output_to_srgb the sRGB conversion; the rest are the persisted options. An empty fileName with
/// `error` set when the target folder does not exist or cannot be written.
saveResultRequest automaticSaveRequest(const commandLineOptions& options, const saveResultOptions_t& persisted,
                                       const QStringList& inputs, QString& error);

/// Absolute path of the --save_hdr file, or empty with `error` set when its folder does not exist or
/// cannot be written (an empty option gives an empty path and no error).
QString automaticHdrOutputPath(const commandLineOptions& options, QString& error);

} // namespace halvora
