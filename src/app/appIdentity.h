#pragma once
// Application identity and the one settings location shared by every persisted option.

#include <QSettings>
#include <QString>
#include <memory>

namespace halvora {

inline const char* const kOrganizationName = "Vantrelle";
inline const char* const kApplicationName = "Halvora";
inline const char* const kApplicationVersion = HALVORA_VERSION;
/// Name of the settings location ("Halvora 3"), an INI file under $XDG_CONFIG_HOME/Vantrelle/.
inline const char* const kSettingsName = "Halvora 3";

/// Opens the program's settings location (native format, user scope).
inline std::unique_ptr<QSettings> openSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kOrganizationName,
                                       kSettingsName);
}

} // namespace halvora
