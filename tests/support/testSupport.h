#pragma once
// Helpers shared by the test programs.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
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

/// Whole contents of a file, or empty when it cannot be read.
QByteArray readBytes(const QString& path);
/// Replaces a file's contents; false when the file cannot be written in full.
bool writeBytes(const QString& path, const QByteArray& bytes);
/// True when no value is NaN or infinite.
bool allFinite(const float* values, size_t count);
inline bool allFinite(const std::vector<float>& values) {
    return allFinite(values.data(), values.size());
}

/// Forces the worker thread count for a test (0 leaves it automatic) and puts the automatic count back
/// when the test ends, even when it fails early.
struct threadCountGuard {
    explicit threadCountGuard(int threads = 0);
    ~threadCountGuard();
    threadCountGuard(const threadCountGuard&) = delete;
    threadCountGuard& operator=(const threadCountGuard&) = delete;
};

/// A well-mixed 32-bit hash: reproducible noise for synthetic pictures.
inline uint32_t hashMix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    return x ^ (x >> 16);
}

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
