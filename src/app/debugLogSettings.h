#pragma once
// The debug log's place and level as the program options decide them: the "LogToFile" option
// (1 = off, 2 = on), read on the first message, and the log file in the user folder.

#include <QString>
#include <functional>

namespace halvora {

/// Path of the log file ("<user folder>/Halvora3_debug_log.txt").
QString debugLogPath();

/// Asked once when "LogToFile" is 2; returns false when the user chose to disable logging for later
/// runs. The user interface installs a message box here; without a handler the answer is yes.
void setDebugLogQuestion(std::function<bool(const QString& text)> ask);

/// Makes the debug log follow the options: on the first message the level is read, the question asked
/// when it is 2, and the file created empty.
void installDebugLogSettings();

} // namespace halvora
