#pragma once
// The one settings location shared by every persisted option and the window placement.

#include "base/appIdentity.h"

#include <QSettings>
#include <memory>

namespace halvora {

/// Opens the program's settings location (native format, user scope).
inline std::unique_ptr<QSettings> openSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kOrganizationName,
                                       kSettingsName);
}

} // namespace halvora
