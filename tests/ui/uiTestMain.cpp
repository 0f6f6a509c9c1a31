// Test main of the window tests: the scratch folders of every test program, a QApplication, and the
// guard that answers any message box a test did not expect.

#include "support/testSupport.h"
#include "uiTestSupport.h"

#include <QApplication>
#include <gtest/gtest.h>

void halvora::test::restoreBoxGuard() {
    styledMessageBox::setRecorder([](styledMessageBox::kind, const QString& text) {
        fprintf(stderr, "unexpected message box (answered Yes): %s\n", text.toLocal8Bit().constData());
        return true;
    });
}

int main(int argc, char** argv) {
    const auto root = halvora::test::prepareTestEnvironment();
    if (!root) return 2;
    QApplication app(argc, argv);
    halvora::test::restoreBoxGuard();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
