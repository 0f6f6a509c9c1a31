#pragma once
// A set of hostile and awkward input files made from the shared photographs: truncated and damaged
// pictures, pictures that declare more pixels than their file holds, TIFFs with broken strips or
// sample formats the reader must refuse, a named pipe, a directory, an unreadable and an empty file,
// names that are not valid UTF-8, and the valid edge cases that must still load (NaN and infinite
// radiance, an EXIF directory that links to itself, a non-UTF-8 name of a good photo).
//
// The project tests prepare and load each file through the real preparation and load worker; the
// process tests run `halvora --auto` on each. Every failure must name the file and give `reason`.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace halvora::test {

struct hostileInput {
    enum outcome {
        refusedAtPreparation, ///< refused before any memory is reserved for its pixels
        refusedAtLoad,        ///< its header passes, its pixels do not
        loads                 ///< a valid, if unusual, file
    };
    QString name;         ///< what the case is, usable as a test name
    QString path;         ///< the file (a pipe or a directory for some cases)
    QByteArray localPath; ///< the path's real bytes, which `path` cannot carry for names that are not UTF-8
    outcome expected = refusedAtPreparation;
    QString reason; ///< part of the failure text, which starts with "<path>: "
    bool needsUnprivilegedUser =
        false; ///< the administrator may read anything: the case means nothing as root
};

/// Names of every case, in the order makeHostileInputs returns them.
QStringList hostileInputNames();

/// Writes the set into `dir` (which must exist) from the photographs below `dataDir`; empty when
/// `dataDir` does not hold them.
std::vector<hostileInput> makeHostileInputs(const QString& dir, const QString& dataDir);

/// Removes everything the set put into `dir` by the entries' real bytes (QDir cannot remove names
/// that are not valid UTF-8).
void removeHostileInputs(const QString& dir);

} // namespace halvora::test
