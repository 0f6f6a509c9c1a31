#pragma once
// Helpers shared by the test programs.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

namespace halvora::test {

/// Points settings, home, runtime and temporary folders into a fresh scratch directory, which lives as
/// long as the returned object; the first call of every test main, before the application object.
std::unique_ptr<QTemporaryDir> prepareTestEnvironment();

/// Folder where sanitizer reports of the programs a test starts are written (empty outside a sanitizer run).
/// Address and leak reports land there and fail the test program at its end; undefined-behaviour
/// reports go to the program's standard error, so runners check its exit status as well.
QString childSanitizerReportDir();
/// Exit status of a sanitizer-built program that reported a fault (the program never uses it itself).
constexpr int sanitizerExitCode = 86;

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
#define HALVORA_REQUIRE_DATA()                                                                               \
    do {                                                                                                     \
        if (halvora::test::dataDir().isEmpty()) GTEST_SKIP() << "test data folder ../shared/data is absent"; \
    } while (0)
