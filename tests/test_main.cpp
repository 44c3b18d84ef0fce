#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    // GUI tests draw offscreen: CI has no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
