// Opening the user's files: names that are not valid UTF-8, things that are not regular files, and
// files that appear under their name only once they are whole.

#include "base/fileHandle.h"
#include "base/replacingFile.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace halvora;

namespace {

bool writeRaw(const QByteArray& path, const QByteArray& bytes) {
    FILE* f = std::fopen(path.constData(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f) == size_t(bytes.size());
    return std::fclose(f) == 0 && ok;
}

QByteArray readRaw(const QByteArray& path) {
    QByteArray out;
    if (FILE* f = std::fopen(path.constData(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            out.append(buffer, qsizetype(n));
        std::fclose(f);
    }
    return out;
}

/// Every entry of a folder, hidden ones included, by its real bytes.
QList<QByteArray> entries(const QString& dir) {
    QList<QByteArray> names;
    if (DIR* d = opendir(QFile::encodeName(dir).constData())) {
        while (const dirent* e = readdir(d))
            if (QByteArray(e->d_name) != "." && QByteArray(e->d_name) != "..") names << QByteArray(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(fileHandle, NamesThatAreNotUtf8AreOpenedByTheirRealBytes) {
    const QString dir = test::makeTempDir("names");
    const QByteArray folder = QFile::encodeName(dir);
    // A folder and a file whose names hold bytes that are no UTF-8: the names arrive decoded, with
    // U+FFFD in place of those bytes, as the command line and the file dialog give them.
    ASSERT_EQ(mkdir((folder + "/set\xe9").constData(), 0700), 0);
    ASSERT_TRUE(writeRaw(folder + "/set\xe9/photo\xff.jpg", "content"));
    const QString decoded =
        dir + "/" + QFile::decodeName("set\xe9") + "/" + QFile::decodeName("photo\xff.jpg");
    ASSERT_TRUE(decoded.contains(QChar(0xFFFD)));
    EXPECT_FALSE(QFile::exists(decoded)) << "the decoded name must not reach the file by itself";

    int matches = 0;
    EXPECT_EQ(localFileName(decoded, &matches), folder + "/set\xe9/photo\xff.jpg");
    EXPECT_EQ(matches, 1);
    QString error;
    int64_t size = 0;
    fileHandle file = openInputFile(decoded, "test", &error, &size);
    ASSERT_TRUE(file) << error.toStdString();
    EXPECT_EQ(size, 7);

    // Two names that decode alike cannot be told apart: refused with the reason, never a guess.
    ASSERT_TRUE(writeRaw(folder + "/twin\xfd.jpg", "a"));
    ASSERT_TRUE(writeRaw(folder + "/twin\xfe.jpg", "b"));
    const QString twin = dir + "/" + QFile::decodeName("twin\xfd.jpg");
    EXPECT_EQ(twin, dir + "/" + QFile::decodeName("twin\xfe.jpg"));
    localFileName(twin, &matches);
    EXPECT_EQ(matches, 2);
    EXPECT_FALSE(openInputFile(twin, "test", &error));
    EXPECT_EQ(error, twin + ": the name is not valid UTF-8 and 2 files of its folder match it");

    // A name that really contains U+FFFD is taken as it is.
    const QString real = dir + "/real\u00e9\ufffd.jpg";
    ASSERT_TRUE(writeRaw(QFile::encodeName(real), "x"));
    EXPECT_EQ(localFileName(real), QFile::encodeName(real));
    EXPECT_TRUE(openInputFile(real, "test", &error));
}

TEST(fileHandle, OnlyRegularNonEmptyFilesAreOpenedAndEachRefusalSaysWhy) {
    const QString dir = test::makeTempDir("kinds");
    const QByteArray folder = QFile::encodeName(dir);
    ASSERT_EQ(mkfifo((folder + "/pipe.jpg").constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir).mkdir("folder.jpg"));
    ASSERT_TRUE(writeRaw(folder + "/empty.jpg", QByteArray()));
    ASSERT_TRUE(writeRaw(folder + "/good.jpg", QByteArray(1000, 'g')));
    struct refusal {
        QString file;
        QString reason;
    };
    // A named pipe without a writer would block a plain open for ever: this returns at once.
    for (const refusal& r : {refusal{dir + "/pipe.jpg", "is a named pipe (FIFO), not a regular file"},
                             refusal{dir + "/folder.jpg", "is a directory, not a file"},
                             refusal{dir + "/empty.jpg", "is empty (0 bytes)"},
                             refusal{"/dev/null", "is a device, not a regular file"},
                             refusal{dir + "/missing.jpg", "no such file or directory"}}) {
        SCOPED_TRACE(r.file.toStdString());
        test::logCapture log;
        QString error;
        EXPECT_FALSE(openInputFile(r.file, "someReader::info", &error));
        EXPECT_EQ(error, r.file + ": " + r.reason);
        EXPECT_FALSE(checkInputFile(r.file, "someReader::info", &error));
        QFile qfile;
        EXPECT_FALSE(openInputFile(r.file, qfile, "someReader::info", &error));
        EXPECT_FALSE(qfile.isOpen());
        // The detector logs the text once per call, with its name in front.
        EXPECT_TRUE(log.contains("someReader::info: " + error.toStdString() + "\n")) << log.text();
    }
    QString error;
    int64_t size = 0;
    QFile good;
    ASSERT_TRUE(openInputFile(dir + "/good.jpg", good, "test", &error, &size));
    EXPECT_EQ(size, 1000);
    EXPECT_EQ(good.readAll(), QByteArray(1000, 'g'));
    // Reads block normally once the file is known to be regular: the descriptor is not left non-blocking.
    fileHandle handle = openInputFile(dir + "/good.jpg", "test", &error);
    ASSERT_TRUE(handle);
    char first = 0;
    EXPECT_EQ(std::fread(&first, 1, 1, handle.get()), 1u);
    EXPECT_EQ(first, 'g');
}

TEST(replacingFile, AFileAppearsOnlyWholeAndAnOlderOneSurvivesEveryFailure) {
    const QString dir = test::makeTempDir("replace");
    const QString name = dir + "/result.tif";
    ASSERT_TRUE(writeRaw(QFile::encodeName(name), "older"));

    {
        // Abandoned after writing: nothing changes and nothing is left in the folder.
        replacingFile file(name);
        QString error;
        ASSERT_TRUE(file.open("test", &error)) << error.toStdString();
        ASSERT_TRUE(file.write("newer contents", 14));
        EXPECT_EQ(entries(dir), QList<QByteArray>{"result.tif"}) << "no named partial file while writing";
    }
    EXPECT_EQ(readRaw(QFile::encodeName(name)), "older");
    EXPECT_EQ(entries(dir), QList<QByteArray>{"result.tif"});

    {
        // Committed: replaced in one step; writeAt patches without moving the end.
        replacingFile file(name);
        QString error;
        ASSERT_TRUE(file.open("test", &error));
        ASSERT_TRUE(file.write("0123456789", 10));
        ASSERT_TRUE(file.writeAt(2, "ab", 2));
        ASSERT_TRUE(file.write("!", 1));
        ASSERT_TRUE(file.commit("test", &error)) << error.toStdString();
    }
    EXPECT_EQ(readRaw(QFile::encodeName(name)), "01ab456789!");
    EXPECT_EQ(entries(dir), QList<QByteArray>{"result.tif"});

    {
        // A library that opens the file by path (as the OpenEXR writer does) writes the same file.
        replacingFile file(dir + "/new.exr");
        QString error;
        ASSERT_TRUE(file.open("test", &error));
        FILE* byPath = std::fopen(file.path().constData(), "wb");
        ASSERT_TRUE(byPath);
        std::fputs("written by path", byPath);
        std::fclose(byPath);
        ASSERT_TRUE(file.commit("test", &error)) << error.toStdString();
    }
    EXPECT_EQ(readRaw(QFile::encodeName(dir + "/new.exr")), "written by path");
}

TEST(replacingFile, AWriteThatTheSystemRefusesGivesItsReasonAndKeepsTheOlderFile) {
    const QString dir = test::makeTempDir("limit");
    const QString name = dir + "/big.jpg";
    ASSERT_TRUE(writeRaw(QFile::encodeName(name), "older"));

    // A file-size limit makes the system refuse writes beyond 4096 bytes (as a full disk does), with
    // EFBIG instead of a signal once SIGXFSZ is ignored.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    bool opened = false, wrote = true, committed = true;
    {
        replacingFile file(name);
        opened = file.open("imageSaver::saveResultJPEG", &error);
        const QByteArray block(1024, 'x');
        for (int i = 0; i < 8 && wrote; ++i)
            wrote = file.write(block.constData(), size_t(block.size()));
        committed = file.commit("imageSaver::saveResultJPEG", &error);
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_TRUE(opened);
    EXPECT_FALSE(wrote);
    EXPECT_FALSE(committed);
    EXPECT_EQ(error, name + ": file too large");
    EXPECT_EQ(readRaw(QFile::encodeName(name)), "older");
    EXPECT_EQ(entries(dir), QList<QByteArray>{"big.jpg"});

    // A name that is not valid UTF-8 and names no existing file would be written under another name.
    replacingFile lossy(dir + "/out" + QChar(0xFFFD) + ".jpg");
    EXPECT_FALSE(lossy.open("test", &error));
    EXPECT_TRUE(error.endsWith(": the name is not valid UTF-8; the file would be saved under another name"));
}
