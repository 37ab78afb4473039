#include <QApplication>

#include <gtest/gtest.h>

// Widgets need an application object, and that needs a display: the tests run on the offscreen
// platform (set by CMake). Listing the tests at build time needs neither.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
