// Every file of the hostile-input set goes through the real preparation and load worker: refused at
// the step the case expects, with a text that names the file and gives the reason, and without
// hanging; the valid edge cases of the set load.

#include "loadPhotoTestSupport.h"
#include "support/hostileInputs.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace halvora::test;

namespace {

struct attempt {
    bool prepared = false;
    QString prepareError;
    int code = -1;
    QString loadError;
    int projectWidth = -1;     ///< after a refused preparation: nothing may have been sized
    QStringList leftInSession; ///< after a failed load: no temporary file may remain
};

attempt prepareAndLoad(const QString& path) {
    attempt a;
    processingProject project(nullptr, makeTempDir("scratch"));
    auto photo = std::make_unique<photoEntry>();
    photo->fileName = path;
    a.prepared = project.loadPhotoPrepare(*photo, 0, false, &a.prepareError);
    a.projectWidth = project.width;
    if (!a.prepared) return a;
    std::vector<uint16_t> buffer;
    const loadOutcome outcome = loadPrepared(project, std::move(photo), buffer);
    a.code = outcome.code;
    a.loadError = outcome.message;
    if (a.code != loadPhotoWorker::loaded) a.leftInSession = QDir(project.sessionDir).entryList(QDir::Files);
    return a;
}

/// Runs prepareAndLoad on a thread of its own and waits for it; a case that blocks (a named pipe
/// opened for reading waits for a writer) is reported as hanging instead of stopping the test
/// program. Not a timing test: the limit only separates "finished" from "never finishes".
bool finishes(const QString& path, attempt& result) {
    struct shared {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        attempt result;
    };
    auto state = std::make_shared<shared>();
    std::thread worker([state, path] {
        attempt a = prepareAndLoad(path);
        std::lock_guard lock(state->mutex);
        state->result = a;
        state->finished = true;
        state->done.notify_all();
    });
    std::unique_lock lock(state->mutex);
    if (state->done.wait_for(lock, std::chrono::seconds(60), [&] { return state->finished; })) {
        lock.unlock();
        worker.join();
        result = state->result;
        return true;
    }
    lock.unlock();
    // Release a reader blocked on a named pipe, so the thread can end before the program does.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
    worker.detach();
    return false;
}

/// The same, in a child process that has lost the administrator's right to read any file (root
/// reads files without read permission, so such a case means nothing for root itself).
bool finishesWithoutReadOverride(const QString& path, attempt& result) {
    int channel[2];
    if (pipe(channel) != 0) return false;
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] = {};
        syscall(SYS_capget, &header, caps);
        for (auto& c : caps)
            c.effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        int code = 2;
        if (syscall(SYS_capset, &header, caps) == 0) {
            QString error;
            processingProject project(nullptr, QDir::tempPath());
            photoEntry photo;
            photo.fileName = path;
            code = project.loadPhotoPrepare(photo, 0, false, &error) ? 1 : 0;
            const QByteArray text = error.toUtf8();
            if (write(channel[1], text.constData(), size_t(text.size())) < 0) code = 2;
        }
        _exit(code);
    }
    close(channel[1]);
    QByteArray text;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, n);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 2) return false;
    result.prepared = WEXITSTATUS(status) == 1;
    result.prepareError = QString::fromUtf8(text);
    result.projectWidth = 0;
    return true;
}

class hostileInputTest : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() {
        if (dataDir().isEmpty()) return;
        dir_ = makeTempDir("hostile");
        inputs_ = makeHostileInputs(dir_, dataDir());
    }
    static void TearDownTestSuite() {
        inputs_.clear();
        if (!dir_.isEmpty()) removeHostileInputs(dir_);
    }

    static QString dir_;
    static std::vector<hostileInput> inputs_;
};

QString hostileInputTest::dir_;
std::vector<hostileInput> hostileInputTest::inputs_;

std::vector<std::string> caseNames() {
    std::vector<std::string> names;
    for (const QString& name : hostileInputNames())
        names.push_back(name.toStdString());
    return names;
}

} // namespace

TEST_P(hostileInputTest, RefusedWithTheFileAndTheReasonAtItsStep) {
    HALVORA_REQUIRE_DATA();
    ASSERT_EQ(inputs_.size(), size_t(hostileInputNames().size())) << "the set and its names disagree";
    const auto it = std::find_if(inputs_.begin(), inputs_.end(),
                                 [&](const hostileInput& in) { return in.name.toStdString() == GetParam(); });
    ASSERT_NE(it, inputs_.end());
    const hostileInput& in = *it;

    attempt a;
    const bool unprivileged = in.needsUnprivilegedUser && geteuid() == 0;
    ASSERT_TRUE(unprivileged ? finishesWithoutReadOverride(in.path, a) : finishes(in.path, a))
        << "preparing and loading " << in.path.toStdString() << " did not finish";

    const QString prefix = in.path + ": ";
    switch (in.expected) {
    case hostileInput::refusedAtPreparation:
        EXPECT_FALSE(a.prepared);
        EXPECT_TRUE(a.prepareError.startsWith(prefix)) << a.prepareError.toStdString();
        EXPECT_TRUE(a.prepareError.contains(in.reason)) << a.prepareError.toStdString();
        EXPECT_EQ(a.projectWidth, 0) << "memory was reserved for a refused picture";
        break;
    case hostileInput::refusedAtLoad:
        ASSERT_TRUE(a.prepared) << a.prepareError.toStdString();
        EXPECT_NE(a.code, int(loadPhotoWorker::loaded));
        EXPECT_TRUE(a.loadError.startsWith(prefix)) << a.loadError.toStdString();
        EXPECT_TRUE(a.loadError.contains(in.reason)) << a.loadError.toStdString();
        EXPECT_TRUE(a.leftInSession.isEmpty()) << a.leftInSession.join(", ").toStdString();
        break;
    case hostileInput::loads:
        ASSERT_TRUE(a.prepared) << a.prepareError.toStdString();
        EXPECT_EQ(a.code, int(loadPhotoWorker::loaded)) << a.loadError.toStdString();
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(set, hostileInputTest, ::testing::ValuesIn(caseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });
