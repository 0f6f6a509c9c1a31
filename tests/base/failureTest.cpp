// The error rule's texts: "<file>: <reason>", reasons in the words of the system or the library.

#include "base/failure.h"

#include <QDir>
#include <cerrno>
#include <gtest/gtest.h>

namespace {

TEST(failure, textsNameTheFileAndAReasonWrittenLikeASentencePart) {
    QString error;
    EXPECT_FALSE(halvora::fail(&error, "failureTest", "/tmp/a b/x.jpg", "is cut short"));
    EXPECT_EQ(error, QDir::toNativeSeparators("/tmp/a b/x.jpg") + ": is cut short");
    // No out-parameter: the failure is still reported as one.
    EXPECT_FALSE(halvora::fail(nullptr, "failureTest", "x.jpg", "is cut short"));

    // Libraries write sentences; an abbreviation at the start keeps its capitals.
    EXPECT_EQ(halvora::asReason("Unsupported image format"), "unsupported image format");
    EXPECT_EQ(halvora::asReason("JPEG datastream contains no image"), "JPEG datastream contains no image");
    EXPECT_EQ(halvora::asReason("I/O error"), "I/O error");
    EXPECT_EQ(halvora::asReason("A"), "a");
    EXPECT_EQ(halvora::asReason(""), "");

    EXPECT_EQ(halvora::systemReason(ENOSPC), "no space left on device");
    EXPECT_EQ(halvora::systemReason(EACCES), "permission denied");
}

} // namespace
