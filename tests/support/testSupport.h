#pragma once
// Helpers shared by the test programs.

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace halvora::test {

/// The per-run scratch folder the test main created (settings, home and TMPDIR live inside it).
QString scratchRoot();
/// A new empty directory inside the scratch folder.
QString makeTempDir(const QString& name = "dir");
/// Folder of the real test photographs ("../shared/data"), or empty when it is absent.
QString dataDir();
/// Path of a file below the data folder.
QString dataFile(const QString& relative);
/// Path of the built program.
QString halvoraBinary();

/// Puts back the guard that answers any message box a test did not expect (a box must never wait for
/// a user in a test run): it prints the box to stderr and answers Yes. The test main installs it;
/// recorders call this when they end.
void restoreBoxGuard();

/// Collects every debugLog line while alive.
class logCapture {
public:
    logCapture();
    ~logCapture();
    std::string text() const;
    bool contains(const std::string& needle) const { return text().find(needle) != std::string::npos; }

private:
    struct state;
    std::shared_ptr<state> state_;
};

} // namespace halvora::test

/// Skips the current test when the shared photograph folder is missing.
#define HALVORA_REQUIRE_DATA()                                                                                        \
    do {                                                                                                              \
        if (halvora::test::dataDir().isEmpty())                                                                       \
            GTEST_SKIP() << "test data folder ../shared/data is absent";                                              \
    } while (0)
