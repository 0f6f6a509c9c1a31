#include "base/debugLog.h"
#include "app/debugLogSettings.h"
#include "app/settingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

class debugLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        halvora::installDebugLogSettings();
        QDir().mkpath(QFileInfo(halvora::debugLogPath()).absolutePath());
        QFile::remove(halvora::debugLogPath());
    }
    void TearDown() override {
        halvora::openSettings()->remove("LogToFile");
        halvora::setDebugLogQuestion(nullptr);
        halvora::setDebugLogTarget(nullptr);
        QFile::remove(halvora::debugLogPath());
    }
    static QByteArray logText() {
        QFile f(halvora::debugLogPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST_F(debugLogTest, offWritesNothing) {
    halvora::openSettings()->setValue("LogToFile", 1);
    halvora::resetDebugLogForTests();
    debugLog("hello %d\n", 1);
    EXPECT_FALSE(QFile::exists(halvora::debugLogPath()));
}

TEST_F(debugLogTest, onAppendsFormattedLinesFromManyThreads) {
    halvora::openSettings()->setValue("LogToFile", 2);
    halvora::resetDebugLogForTests();
    debugLog("first %s %d\n", "line", 42);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 25; ++i)
                debugLog("thread %d line %d\n", t, i);
        });
    for (auto& th : threads)
        th.join();
    const QByteArray text = logText();
    EXPECT_TRUE(text.startsWith("first line 42\n"));
    EXPECT_EQ(text.count('\n'), 101) << "no line lost or torn";
}

TEST_F(debugLogTest, overlongMessagesAreCutNotOverflowed) {
    halvora::openSettings()->setValue("LogToFile", 2);
    halvora::resetDebugLogForTests();
    const std::string big(5000, 'x');
    debugLog("%s", big.c_str());
    EXPECT_EQ(logText().size(), 2047);
}

TEST_F(debugLogTest, answeringNoDisablesLoggingForLaterRunsOnly) {
    halvora::openSettings()->setValue("LogToFile", 2);
    halvora::resetDebugLogForTests();
    QString asked;
    halvora::setDebugLogQuestion([&](const QString& text) {
        asked = text;
        return false;
    });
    debugLog("still logged\n");
    EXPECT_TRUE(asked.startsWith("Logging to: " + halvora::debugLogPath() + ". Press \"Yes\" to continue"));
    EXPECT_EQ(logText(), "still logged\n");
    EXPECT_EQ(halvora::openSettings()->value("LogToFile").toInt(), 1);
}

} // namespace
