#pragma once
// Diagnostic log shared by every part of the program.
//
// The level is read once, on the first call, from the "LogToFile" option (1 = off, 2 = on). While
// logging is on, every message is appended to "<user folder>/Halvora3_debug_log.txt", opening and
// closing the file each time so the log survives a crash. Callable from any thread.

#include <QString>
#include <functional>

/// printf-style diagnostic line; the text is written as it is (callers end lines with "\n").
void debugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace halvora {

/// Path of the log file ("<user folder>/Halvora3_debug_log.txt").
QString debugLogPath();

/// Asked once when "LogToFile" is 2; returns false when the user chose to disable logging for later
/// runs. The user interface installs a message box here; without a handler the answer is yes.
void setDebugLogQuestion(std::function<bool(const QString& text)> ask);

/// Test hook: every formatted message is also passed here (whatever the level), on the calling thread.
void setDebugLogListener(std::function<void(const char* text)> listener);

/// Forgets the level read on the first call, so the next message reads "LogToFile" again (tests only).
void resetDebugLogForTests();

} // namespace halvora
