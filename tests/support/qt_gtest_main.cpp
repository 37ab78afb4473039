#include <QCoreApplication>

#include <gtest/gtest.h>

// Qt's serial port needs an application object for its socket notifiers.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
