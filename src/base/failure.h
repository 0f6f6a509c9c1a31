#pragma once
// The one error rule. The code that detects a fault says what was wrong, with the file it concerns:
// it writes "<caller>: <file>: <reason>" to the debug log and hands "<file>: <reason>" to its caller
// through the `QString* error` (or `QString& error`) parameter every fallible function takes. Callers
// pass that text on unchanged — into the log panel, a message box, or standard error as
// "halvora: <file>: <reason>" in unattended runs — and never replace it with a vaguer one.
//
// Reasons are short, lower-case phrases a person can act on: "not a Radiance file",
// "declares 100000 × 100000 pixels but holds only 512 bytes", "truncated after row 812",
// "no space left on device". Any thread.

#include <QString>

namespace halvora {

/// "<file>: <reason>" with the file in native separators; just the reason when there is no file.
QString failureText(const QString& file, const QString& reason);

/// Records a fault: logs "<caller>: <file>: <reason>\n", stores failureText(file, reason) in *error
/// when `error` is given, and returns false so a detector can write `return fail(...)`.
bool fail(QString* error, const char* caller, const QString& file, const QString& reason);

/// A library's message as a reason: first letter in lower case, unless the first word is an
/// abbreviation ("JPEG datastream…" stays).
QString asReason(QString message);

/// The reason of an operating-system error number, in the words of the system ("no space left on
/// device", "permission denied"), first letter in lower case.
QString systemReason(int errorNumber);

} // namespace halvora
