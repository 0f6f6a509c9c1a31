#pragma once
// The tone-mapping settings file (.hvsx): an XML document, root "Halvorasettings", version 4.0.
//
// The file is text the user may have edited, so the reader treats it as hostile: whatever it holds,
// the target record stays usable (every number finite and inside its control range, every curve
// drawable). Called on the main thread (or a batch task's thread) while no tone mapping runs.

#include "tonemap/toneMappingSettings.h"

#include <QByteArray>
#include <QString>

namespace halvora {

/// Results of loadSettingsFile.
enum settingsLoadResult : int {
    settingsLoadOk = 0,
    settingsWrongVersion = 1, ///< "SettingsFileVersion" below 4.0; the record is untouched
    settingsUnreadable = -1,  ///< missing, too large, empty or not XML; the record is untouched
};

/// Largest settings file the reader accepts (real files are a few kilobytes).
inline constexpr qint64 kMaxSettingsFileBytes = 4 << 20;

/// Parameters a load leaves as they are while the white-balance lock is closed: the loaded white
/// balance must not replace the one the user locked.
inline constexpr double toneMappingParameters_t::*kWhiteBalanceLockedFields[] = {
    &toneMappingParameters_t::temperature, &toneMappingParameters_t::tint, &toneMappingParameters_t::hue};

/// Reads a settings file into `target` (logs "Loading setings: %s\n"); returns a settingsLoadResult.
/// With `whiteBalanceLocked` the fields of kWhiteBalanceLockedFields keep their values. Only the
/// parameters change; the caller rebuilds the derived tables (rebuildOnChange.h). A failure writes
/// "<file>: <reason>" into *error when given.
int loadSettingsFile(const QString& fileName, toneMappingParameters_t& target,
                     bool whiteBalanceLocked = false, QString* error = nullptr);

/// The same reader on a file's content already in memory; a failure writes its reason into *reason.
int loadSettingsText(const QByteArray& content, toneMappingParameters_t& target,
                     bool whiteBalanceLocked = false, QString* reason = nullptr);

/// The document saveSettingsFile writes, as bytes.
QByteArray settingsFileContent(const toneMappingParameters_t& settings);

/// Writes `settings` as a settings file (through a temporary name, so a failed save never leaves a
/// half-written file); false (logged) when it cannot be written.
bool saveSettingsFile(const QString& fileName, const toneMappingParameters_t& settings);

} // namespace halvora
