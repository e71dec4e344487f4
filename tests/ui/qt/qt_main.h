// A gtest main with a QApplication, for the offscreen widget tests.
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#define QORVEL_QT_TEST_MAIN                                             \
    int main(int argc, char** argv) {                                   \
        /* Test discovery runs without the test environment. */         \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))             \
            qputenv("QT_QPA_PLATFORM", "offscreen");                    \
        /* CI runs as root, where WebEngine wants no sandbox. */        \
        if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) \
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");                \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);     \
        QApplication app(argc, argv);                                   \
        ::testing::InitGoogleTest(&argc, argv);                         \
        return RUN_ALL_TESTS();                                         \
    }
