#include "project/sessionCleaner.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
}

QString makeSession(const QString& base, const QDateTime& start) {
    const QString dir = base + "/" + halvora::sessionNameFor(start);
    QDir().mkpath(dir);
    touch(dir + "/aaaaaa");
    touch(dir + "/.hidden");
    return dir;
}

TEST(sessionCleaner, nameFormat) {
    const QDateTime t(QDate(2026, 3, 4), QTime(5, 6, 7, 89));
    EXPECT_EQ(halvora::sessionNameFor(t), "~halvoratmp20260304050607_089");
}

TEST(sessionCleaner, oldSessionsRemovedYoungOnesAndDecoysKept) {
    const QString base = halvora::test::makeTempDir("sessions");
    const QDateTime now = QDateTime::currentDateTime();
    const QString old = makeSession(base, now.addSecs(-73 * 3600));
    const QString young = makeSession(base, now.addSecs(-71 * 3600));
    const QString unparsable = base + "/~halvoratmpGARBAGE";
    QDir().mkpath(unparsable);
    touch(unparsable + "/keep");
    // Decoys: a look-alike name without the prefix, a loose file, a directory with files and a subdirectory.
    const QString decoy = base + "/halvoratmp20000101000000_000";
    QDir().mkpath(decoy);
    touch(decoy + "/keep");
    touch(base + "/~halvoratmp20000101000000_000.txt");
    QDir().mkpath(old + "/nested");
    touch(old + "/nested/keep");

    halvora::test::logCapture log;
    halvora::cleanOldSessions(base, 72.0, now);

    EXPECT_FALSE(QFile::exists(old + "/aaaaaa"));
    EXPECT_FALSE(QFile::exists(old + "/.hidden"));
    EXPECT_TRUE(QFile::exists(old + "/nested/keep")) << "only files directly inside are deleted";
    EXPECT_TRUE(QFile::exists(young + "/aaaaaa"));
    EXPECT_TRUE(QFile::exists(unparsable + "/keep")) << "an unparsable time stamp counts as age 0";
    EXPECT_TRUE(QFile::exists(decoy + "/keep"));
    EXPECT_TRUE(QFile::exists(base + "/~halvoratmp20000101000000_000.txt"));
    EXPECT_TRUE(log.contains("Cleaning up session: " + QDir::toNativeSeparators(old).toStdString() +
                             " (delDir=1)\n"));
    EXPECT_TRUE(
        log.contains("Found session: " + QDir::toNativeSeparators(young).toStdString() + " (no cleaning)\n"));
}

TEST(sessionCleaner, emptySessionDirectoryIsRemoved) {
    const QString base = halvora::test::makeTempDir("sessions");
    const QDateTime now = QDateTime::currentDateTime();
    const QString old = makeSession(base, now.addSecs(-100 * 3600));
    halvora::cleanOldSessions(base, 72.0, now);
    EXPECT_FALSE(QDir(old).exists());
}

TEST(sessionCleaner, ageLimitZeroCleansWithoutRemovingWhenAsked) {
    const QString base = halvora::test::makeTempDir("sessions");
    const QString dir = makeSession(base, QDateTime::currentDateTime());
    halvora::cleanSession(dir, 0, false);
    EXPECT_TRUE(QDir(dir).exists());
    EXPECT_TRUE(QDir(dir).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST(sessionCleaner, symbolicLinksAreNeverFollowed) {
    const QString base = halvora::test::makeTempDir("sessions");
    const QString precious = halvora::test::makeTempDir("precious");
    touch(precious + "/photo.jpg");
    const QDateTime now = QDateTime::currentDateTime();
    // A link that looks like an old session, and a link to a file inside a real old session.
    ASSERT_TRUE(QFile::link(precious, base + "/" + halvora::sessionNameFor(now.addSecs(-200 * 3600))));
    const QString old = makeSession(base, now.addSecs(-90 * 3600));
    ASSERT_TRUE(QFile::link(precious + "/photo.jpg", old + "/link"));
    halvora::cleanOldSessions(base, 72.0, now);
    EXPECT_TRUE(QFile::exists(precious + "/photo.jpg"));
    EXPECT_FALSE(QFileInfo(old + "/link").isSymLink()) << "the link itself goes";
}

TEST(sessionCleaner, refusesDirectoriesThatAreNotSessions) {
    const QString dir = halvora::test::makeTempDir("notASession");
    touch(dir + "/keep");
    halvora::cleanSession(dir, 0, true);
    EXPECT_TRUE(QFile::exists(dir + "/keep"));
    halvora::cleanSession("", 0, true); // nothing for an empty name
}

} // namespace

namespace {

// A session records its process: a later start removes the sessions of processes that have ended,
// whatever their age, and leaves those of running processes alone, whatever theirs.
TEST(sessionCleaner, sessionsOfEndedProcessesGoThoseOfRunningOnesStay) {
    const QString base = halvora::test::makeTempDir("owners");
    const QDateTime now = QDateTime::currentDateTime();
    QString error;
    const QString ours = halvora::createSessionDirectory(base, now, error);
    ASSERT_FALSE(ours.isEmpty()) << error.toStdString();
    EXPECT_FALSE(halvora::sessionOwnerGone(ours)) << "this process runs";

    // A process that has ended (an id no process has).
    const QString ended = base + "/" + halvora::sessionNameFor(now.addSecs(-60));
    ASSERT_TRUE(QDir().mkdir(ended));
    QFile owner(ended + "/" + halvora::kSessionOwnerFile);
    ASSERT_TRUE(owner.open(QIODevice::WriteOnly));
    owner.write("999999999 1\n");
    owner.close();
    QFile(ended + "/XXXXXX").open(QIODevice::WriteOnly);

    // A running process's session a week old (a long batch): not ours to clean.
    const QString running = base + "/" + halvora::sessionNameFor(now.addDays(-7));
    ASSERT_TRUE(QDir().mkdir(running));
    QFile(ours + halvora::kSessionOwnerFile).copy(running + "/" + halvora::kSessionOwnerFile);

    halvora::cleanOldSessions(base, 72.0, now);
    EXPECT_FALSE(QFileInfo::exists(ended)) << "the ended process's session is removed at once";
    EXPECT_TRUE(QFileInfo::exists(running)) << "a running process's session is left alone";
    EXPECT_TRUE(QFileInfo::exists(ours + halvora::kSessionOwnerFile));

    // Emptying a session that stays in use keeps its owner record.
    halvora::cleanSession(ours, 0, false, now);
    EXPECT_TRUE(QFileInfo::exists(ours + halvora::kSessionOwnerFile));
}

// Two runs started in the same millisecond never share a session directory.
TEST(sessionCleaner, sessionDirectoriesAreCreatedExclusively) {
    const QString base = halvora::test::makeTempDir("clash");
    const QDateTime now = QDateTime::currentDateTime();
    QString error;
    const QString first = halvora::createSessionDirectory(base, now, error);
    const QString second = halvora::createSessionDirectory(base, now, error);
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(first, second);
    EXPECT_EQ(QFileInfo(QDir::cleanPath(second)).fileName(), halvora::sessionNameFor(now.addMSecs(1)));
    EXPECT_TRUE(halvora::createSessionDirectory(base + "/missing", now, error).isEmpty());
    EXPECT_TRUE(error.contains("the temporary folder does not exist")) << error.toStdString();
}

} // namespace

namespace {

// A killed run's hidden partial files in the user's folder go with its session; those listed by a
// session whose process still runs are being written and stay.
TEST(sessionCleaner, partialFilesOfEndedRunsAreRemovedThoseOfRunningOnesStay) {
    const QString base = halvora::test::makeTempDir("partialsessions");
    const QString out = halvora::test::makeTempDir("userfolder");
    const QDateTime now = QDateTime::currentDateTime();
    QString error;
    const QString ours = halvora::createSessionDirectory(base, now, error);
    ASSERT_FALSE(ours.isEmpty()) << error.toStdString();

    const QString ended = base + "/" + halvora::sessionNameFor(now.addSecs(-60));
    const QString ownerless = base + "/" + halvora::sessionNameFor(now.addDays(-4));
    ASSERT_TRUE(QDir().mkdir(ended));
    ASSERT_TRUE(QDir().mkdir(ownerless));
    QFile owner(ended + "/" + halvora::kSessionOwnerFile);
    ASSERT_TRUE(owner.open(QIODevice::WriteOnly));
    owner.write("999999999 1\n");
    owner.close();
    auto lists = [&](const QString& session, const QString& partial) {
        touch(partial);
        QFile list(session + "/" + halvora::kSessionPartialsFile);
        ASSERT_TRUE(list.open(QIODevice::Append));
        list.write(QFile::encodeName(partial) + "\n");
    };
    const QString endedPartial = out + "/.merged.hdr.0123456789ab.part";
    const QString ownerlessPartial = out + "/.merged.exr.abcdef012345.part";
    const QString livePartial = out + "/.live.hdr.fedcba987654.part";
    lists(ended, endedPartial);
    lists(ownerless, ownerlessPartial);
    lists(ours, livePartial);
    touch(out + "/merged.hdr");

    halvora::cleanOldSessions(base, 72.0, now);
    EXPECT_FALSE(QFileInfo::exists(endedPartial));
    EXPECT_FALSE(QFileInfo::exists(ownerlessPartial)) << "an old session without an owner is removed too";
    EXPECT_FALSE(QFileInfo::exists(ended));
    EXPECT_TRUE(QFileInfo::exists(livePartial)) << "a running process is still writing it";
    EXPECT_TRUE(QFileInfo::exists(out + "/merged.hdr"));

    // Emptying a session that stays in use keeps its list.
    halvora::cleanSession(ours, 0, false, now);
    EXPECT_TRUE(QFileInfo::exists(ours + halvora::kSessionPartialsFile));
}

} // namespace
