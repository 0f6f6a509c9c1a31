#pragma once
// The plug-in callback file through which a host program learns the saved file's path.

#include <QString>

namespace halvora {

inline const char* const kPluginCallbackName = "Halvora3_pluginCallback";

/// Path of the callback file: "Halvora3_pluginCallback" in `pluginSrcDir` (or the working directory).
QString pluginCallbackPath(const QString& pluginSrcDir);

/// The file's content for `savedFile`: its full native path with every backslash doubled, in quotes.
QString pluginCallbackContent(const QString& savedFile);

/// Writes the callback file (logged as "Saving %s... ok" / " failed"); false when it cannot be written.
bool writePluginCallback(const QString& pluginSrcDir, const QString& savedFile);

} // namespace halvora
