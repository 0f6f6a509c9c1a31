#pragma once
// Opening the user's files by the bytes the system knows them by, and refusing what is not a
// picture file before anything reads from it.
//
// File names reach the program as QStrings. A name whose bytes are not valid UTF-8 arrives with
// U+FFFD in place of the bad bytes, and encoding it again gives a name that does not exist; such a
// name is matched against the entries of its folder (decoded the same way), and a single match is
// opened by its real bytes. Input files are opened without blocking, so a named pipe or a device
// given as a photo is refused at once instead of waiting for a writer for ever.
//
// Every function here may be called from any thread.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <memory>

class QFile;

namespace halvora {

struct fileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
/// An open stdio stream, closed when the handle goes.
using fileHandle = std::unique_ptr<std::FILE, fileCloser>;

/// The bytes to open `fileName` by: its encoded name, or for a name that lost bytes to U+FFFD the
/// one entry of its folder that decodes to it. `matches` (optional) gets the number of folder
/// entries that decode to the name (0 or 1 for ordinary names).
QByteArray localFileName(const QString& fileName, int* matches = nullptr);

/// fopen() by the real bytes of the name; null on failure with errno set.
fileHandle openFile(const QString& fileName, const char* mode);

/// Opens an existing picture file for reading: refuses a missing or unreadable file, a folder, a
/// named pipe, a device or socket, and an empty file, with the reason ("<file>: is a directory, not
/// a file"), logged by `caller` (see failure.h). `size` (optional) gets the file's length.
fileHandle openInputFile(const QString& fileName, const char* caller, QString* error,
                         int64_t* size = nullptr);

/// The same as openInputFile, handing the open file to `file` (a QFile that is not open yet).
bool openInputFile(const QString& fileName, QFile& file, const char* caller, QString* error,
                   int64_t* size = nullptr);

/// The checks of openInputFile without keeping the file open, for readers that must hand a library
/// the file's name.
bool checkInputFile(const QString& fileName, const char* caller, QString* error, int64_t* size = nullptr);

} // namespace halvora
