#pragma once
// The RAW converter's options (the list buildDcrawArgs makes) turned into LibRaw's processing
// parameters of the same meaning, so the dialog's choices stay expressed in one well-known form.

#include <QString>
#include <QStringList>
#include <libraw/libraw_types.h>

namespace halvora {

/// Applies `args` (converter options without the file name) on top of `params`, which hold a fresh
/// LibRaw object's defaults: "-w" camera white balance, "-r" four multipliers, "-a" automatic white
/// balance, "-A x y w h" automatic over a grey box, "-f" four-colour interpolation, "-n" wavelet
/// threshold, "-m" median passes, "-o" output colour space (0 … 5), "-h" half size, "-H" highlight mode
/// (0 … 9), "-g p ts" gamma curve 1/p with toe slope ts, "-W" no automatic brightening, "-q" interpolation
/// quality (0 … 3), "-6" 16-bit output, "-s" shot number; "-c" (write to standard output) has no
/// meaning in memory. An unknown option, a missing or malformed value, or a value out of range leaves
/// a reason in `error` and returns false. Any thread.
bool dcrawArgsToLibRaw(const QStringList& args, libraw_output_params_t& params, QString* error);

} // namespace halvora
