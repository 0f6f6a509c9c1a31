#pragma once
// Diagnostic log shared by every part of the program.
//
// Where the log goes is decided once, on the first message, by the rule the application installs
// (setDebugLogTarget: the "LogToFile" option and the user folder). While logging is on, every message
// is appended to that file, opening and closing it each time so the log survives a crash. Callable
// from any thread.

#include <QString>
#include <functional>

/// printf-style diagnostic line; the text is written as it is (callers end lines with "\n").
void debugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace halvora {

/// Installs the rule asked on the first message: it returns the log file's path, or an empty string
/// when logging is off. Without a rule nothing is written to a file.
void setDebugLogTarget(std::function<QString()> firstUse);

/// Test hook: every formatted message is also passed here (whatever the level), on the calling thread.
void setDebugLogListener(std::function<void(const char* text)> listener);

/// Forgets the decision of the first message, so the next message asks the rule again (tests only).
void resetDebugLogForTests();

} // namespace halvora
