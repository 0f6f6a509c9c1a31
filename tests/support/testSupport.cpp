#include "support/testSupport.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"

#include <cmath>
#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>

#ifdef HALVORA_SANITIZE
// Options of the sanitizer build: the first report ends the program with a failure (UndefinedBehavior
// findings too, which would otherwise only print), and leaks count. The environment still overrides.
namespace {
#define HALVORA_SANITIZER_EXIT "exitcode=86"
static_assert(halvora::test::sanitizerExitCode == 86);
constexpr char asanOptions[] = "halt_on_error=1:abort_on_error=0:" HALVORA_SANITIZER_EXIT ":detect_leaks=1:"
                               "check_initialization_order=1:strict_init_order=1:max_allocation_size_mb=1024";
constexpr char ubsanOptions[] = "halt_on_error=1:print_stacktrace=1:" HALVORA_SANITIZER_EXIT;
constexpr char lsanOptions[] =
    "suppressions=" HALVORA_SOURCE_DIR "/tests/support/lsan.supp:print_suppressions=0";
} // namespace
extern "C" const char* __asan_default_options() {
    return asanOptions;
}
extern "C" const char* __ubsan_default_options() {
    return ubsanOptions;
}
extern "C" const char* __lsan_default_options() {
    return lsanOptions;
}
#endif

namespace halvora::test {

namespace {

// Fails the test program when a program it started wrote a sanitizer report. Such a child only
// changes its exit status, which tests of failing runs expect to be non-zero anyway.
class childSanitizerReports : public ::testing::Environment {
public:
    void TearDown() override {
        const QDir dir(childSanitizerReportDir());
        for (const QFileInfo& report : dir.entryInfoList(QDir::Files, QDir::Name)) {
            QFile f(report.filePath());
            const QByteArray text = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
            ADD_FAILURE() << "a started program reported a fault (" << report.fileName().toStdString()
                          << "):\n"
                          << text.toStdString();
        }
    }
};

// Programs a test starts (the built program, tools) get the same options through their environment,
// with their reports written to files that the environment above collects.
void watchChildSanitizerReports([[maybe_unused]] const QString& dir) {
#ifdef HALVORA_SANITIZE
    QDir().mkpath(dir);
    qputenv("HALVORA_TEST_SANITIZER_DIR", dir.toLocal8Bit());
    const QByteArray logPath = ":log_path=" + dir.toLocal8Bit() + "/report";
    const std::pair<const char*, const char*> options[] = {
        {"ASAN_OPTIONS", asanOptions}, {"UBSAN_OPTIONS", ubsanOptions}, {"LSAN_OPTIONS", lsanOptions}};
    for (const auto& [name, value] : options) {
        const QByteArray given = qgetenv(name);
        qputenv(name, (given.isEmpty() ? QByteArray(value) : given) + logPath);
    }
    ::testing::AddGlobalTestEnvironment(new childSanitizerReports); // owned by GoogleTest
#endif
}

} // namespace

std::unique_ptr<QTemporaryDir> prepareTestEnvironment() {
    auto root = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/halvora-test-XXXXXX");
    if (!root->isValid()) return nullptr;
    const QString base = root->path();
    for (const char* sub : {"config", "home", "tmp", "runtime"})
        QDir().mkpath(base + "/" + sub);
    QFile::setPermissions(base + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HALVORA_TEST_ROOT", base.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (base + "/config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (base + "/runtime").toLocal8Bit());
    qputenv("HOME", (base + "/home").toLocal8Bit());
    qputenv("TMPDIR", (base + "/tmp").toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    watchChildSanitizerReports(base + "/sanitizer");
    return root;
}

QString childSanitizerReportDir() {
    return qEnvironmentVariable("HALVORA_TEST_SANITIZER_DIR");
}

QString scratchRoot() {
    return qEnvironmentVariable("HALVORA_TEST_ROOT");
}

QString makeTempDir(const QString& name) {
    const QString path =
        scratchRoot() + "/" + name + "-" + QUuid::createUuid().toString(QUuid::Id128).left(12);
    QDir().mkpath(path);
    return path;
}

QString dataDir() {
    // HALVORA_DATA_DIR in the environment serves checkouts that do not sit beside ../shared.
    const QString override = qEnvironmentVariable("HALVORA_DATA_DIR");
    const QString dir = QDir::cleanPath(override.isEmpty() ? QStringLiteral(HALVORA_DATA_DIR) : override);
    return QFileInfo(dir).isDir() ? dir : QString();
}

QString dataFile(const QString& relative) {
    return dataDir() + "/" + relative;
}

QString halvoraBinary() {
    return HALVORA_BINARY;
}

struct logCapture::state {
    std::mutex mutex;
    std::string text;
};

logCapture::logCapture() : state_(std::make_shared<state>()) {
    auto s = state_;
    halvora::setDebugLogListener([s](const char* line) {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->text += line;
    });
}

logCapture::~logCapture() {
    halvora::setDebugLogListener(nullptr);
}

std::string logCapture::text() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->text;
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool allFinite(const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

threadCountGuard::threadCountGuard(int threads) {
    setThreadCountOverride(threads);
}

threadCountGuard::~threadCountGuard() {
    setThreadCountOverride(0);
}

} // namespace halvora::test
