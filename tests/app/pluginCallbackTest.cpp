#include "app/pluginCallback.h"
#include "support/testSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

TEST(pluginCallback, contentQuotesTheNativePathWithBackslashesDoubled) {
    const QString dir = halvora::test::makeTempDir("cb");
    const QString saved = dir + "/odd\\name.jpg"; // a backslash is an ordinary character in a Linux name
    QFile(saved).open(QIODevice::WriteOnly);
    halvora::test::logCapture log;
    ASSERT_TRUE(halvora::writePluginCallback(dir, saved));
    const QByteArray expected = "\"" + dir.toLocal8Bit() + "/odd\\\\name.jpg\"";
    EXPECT_EQ(halvora::test::readBytes(dir + "/Halvora3_pluginCallback"), expected)
        << "no line end, quotes around";
    EXPECT_TRUE(log.contains(" ok\n"));
    EXPECT_TRUE(log.contains("path=" + (dir + "/odd\\\\name.jpg").toStdString() + "\n"));
}

TEST(pluginCallback, relativeSavedPathBecomesAbsoluteAndOldContentIsReplaced) {
    const QString dir = halvora::test::makeTempDir("cb");
    QFile old(dir + "/Halvora3_pluginCallback");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("a much longer previous content that must disappear");
    old.close();
    ASSERT_TRUE(halvora::writePluginCallback(dir, dir + "/sub/../r.jpg"));
    EXPECT_EQ(halvora::test::readBytes(dir + "/Halvora3_pluginCallback"),
              "\"" + dir.toLocal8Bit() + "/r.jpg\"");
}

TEST(pluginCallback, unwritableDirectoryFailsAndSaysSo) {
    halvora::test::logCapture log;
    EXPECT_FALSE(halvora::writePluginCallback(halvora::test::scratchRoot() + "/no/such/dir", "/tmp/a.jpg"));
    EXPECT_TRUE(log.contains(" failed\n"));
    EXPECT_EQ(halvora::pluginCallbackPath(""), "Halvora3_pluginCallback");
}

} // namespace
