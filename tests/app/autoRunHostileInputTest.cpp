// `halvora --auto` over cases of the hostile-input set, as a script would run it: a refused file ends
// the run promptly with a non-zero exit, a "halvora: <file>: <reason>" line on standard error, no
// result and no session left; the valid edge cases of the set give a result.

#include "autoRunSandbox.h"
#include "support/hostileInputs.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace halvora::test;

namespace {

class autoRunHostileInputTest : public ::testing::TestWithParam<std::string> {
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

QString autoRunHostileInputTest::dir_;
std::vector<hostileInput> autoRunHostileInputTest::inputs_;

// Root reads files without read permission; the program runs without that right (removed from the
// bounding and inheritable sets, so that it stays removed across exec) for the case that needs it.
void dropReadOverride() {
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    syscall(SYS_capget, &header, caps);
    for (auto& c : caps)
        c.inheritable &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    syscall(SYS_capset, &header, caps);
}

// Each reason of the set is checked through the load worker in the project tests; a run of the program
// is needed once per thing only it shows: a refusal before and during the load, each decoding library
// keeping quiet on standard error, a pipe that must not block, a file only root could read, names that
// are not UTF-8, and a valid file that gives a result.
std::vector<std::string> caseNames() {
    return {"jpeg_declares_8000x6000",
            "jpeg_truncated_mid_scan_with_end_marker",
            "png_damaged_picture_data",
            "tiff_lzw_damaged_strip",
            "exr_declares_30000x30000",
            "fifo",
            "unreadable",
            "non_utf8_name_twins",
            "non_utf8_name_loads",
            "radiance_nan_and_infinity"};
}

} // namespace

TEST_P(autoRunHostileInputTest, EndsPromptlyWithTheFileAndTheReasonAndWritesNothing) {
    HALVORA_REQUIRE_DATA();
    const auto it = std::find_if(inputs_.begin(), inputs_.end(),
                                 [&](const hostileInput& in) { return in.name.toStdString() == GetParam(); });
    ASSERT_NE(it, inputs_.end());
    const hostileInput& in = *it;

    sandbox box;
    // Names that are not UTF-8 reach the program by their bytes, as from a shell.
    const QString result = box.out + "/result.jpg";
    QFile script(box.root + "/run.sh");
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("exec '" + QFile::encodeName(halvoraBinary()) +
                 "' --auto '--output_fn=" + QFile::encodeName(result) + "' '" + in.localPath + "'\n");
    script.close();

    QProcess p;
    p.setProcessEnvironment(box.environment());
    if (in.needsUnprivilegedUser && geteuid() == 0) p.setChildProcessModifier(dropReadOverride);
    p.start("/bin/sh", {script.fileName()});
    ASSERT_TRUE(p.waitForStarted(10000));
    // An unattended run takes no name that is not UTF-8: it could not report or save it faithfully.
    const bool notUtf8 = in.path.contains(QChar(0xFFFD));
    const QString reason =
        notUtf8 ? QString("the name is not valid in the system's file-name encoding (UTF-8)") : in.reason;
    const bool refused = notUtf8 || in.expected != hostileInput::loads;
    // Not a timing test: a refusal must not wait for anything, a picture that loads may take longer.
    const bool finished = p.waitForFinished(refused ? 10000 : 120000);
    if (!finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    ASSERT_TRUE(finished) << in.name.toStdString() << " did not end";
    ASSERT_EQ(p.exitStatus(), QProcess::NormalExit) << "the program crashed";
    const QString errors = QString::fromLocal8Bit(p.readAllStandardError());

    if (refused) {
        EXPECT_NE(p.exitCode(), 0);
        EXPECT_TRUE(errors.contains("halvora: " + QDir::toNativeSeparators(in.path) + ": "))
            << errors.toStdString();
        EXPECT_TRUE(errors.contains(reason))
            << "expected " << reason.toStdString() << " in " << errors.toStdString();
        // Our line is all the user sees: no library prints its own complaint beside it, and the file
        // is named once.
        const QStringList lines = errors.split('\n', Qt::SkipEmptyParts);
        EXPECT_EQ(lines.filter(QDir::toNativeSeparators(in.path)).size(), 1) << errors.toStdString();
        for (const QString& line : lines)
            EXPECT_TRUE(line.startsWith("halvora: ")) << "a line not ours: " << line.toStdString();
        EXPECT_TRUE(
            QDir(box.out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    } else {
        EXPECT_EQ(p.exitCode(), 0) << errors.toStdString();
        EXPECT_TRUE(QFile::exists(result));
    }
    EXPECT_TRUE(box.sessions().isEmpty()) << "a session directory is left behind";
}

INSTANTIATE_TEST_SUITE_P(set, autoRunHostileInputTest, ::testing::ValuesIn(caseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });
