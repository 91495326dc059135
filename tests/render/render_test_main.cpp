// Entry point of the render tests: a QGuiApplication (needed by the font database) on the
// offscreen platform unless the environment chose another, then every test.
#include <QByteArray>
#include <QGuiApplication>
#include <QtGlobal>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    ::testing::InitGoogleTest(&argc, argv);
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
