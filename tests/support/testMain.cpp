// Test main of the programs below the user interface: every test program runs with its settings,
// home and temporary folders inside one fresh scratch directory, so no test reads or writes the real
// user configuration. HALVORA_TEST_APPLICATION names the application class the layer needs
// (QCoreApplication, or QGuiApplication where screens are asked); none of them starts widgets.

#include "support/testSupport.h"

#include HALVORA_TEST_APPLICATION_HEADER
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    const auto root = halvora::test::prepareTestEnvironment();
    if (!root) return 2;
    HALVORA_TEST_APPLICATION app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
