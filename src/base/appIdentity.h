#pragma once
// The program's identity: organisation, name and version, as shown in logs, written into files and
// used to find the settings location.

namespace halvora {

inline const char* const kOrganizationName = "Vantrelle";
inline const char* const kApplicationName = "Halvora";
inline const char* const kApplicationVersion = HALVORA_VERSION;
/// Release date of this version, shown on the splash.
inline const char* const kReleaseDate = "2026-12-06";
/// Name of the settings location ("Halvora 3"), an INI file under $XDG_CONFIG_HOME/Vantrelle/.
inline const char* const kSettingsName = "Halvora 3";

} // namespace halvora
