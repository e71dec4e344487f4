// A gtest main with a QApplication, and the event-loop helpers of the
// offscreen widget tests.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

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

namespace qorvel::test {

// Processes events until pred holds (bounded).
inline bool spin_until(const std::function<bool()>& pred, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    for (;;) {
        // Model changes posted to a view during the last round are taken before looking.
        QCoreApplication::sendPostedEvents();
        if (pred()) break;
        if (t.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// One step of a journey through the widgets: once ready() holds, act() runs.
struct JourneyStep {
    const char* what;
    std::function<bool()> ready;
    std::function<void()> act;
};

// Runs the steps in order from the event loop, polling every 20 ms, after start() has been
// posted; returns what the journey was waiting for when the time ran out, or "" when all ran.
inline std::string run_journey(std::vector<JourneyStep>& steps, const std::function<void()>& start,
                               int ms = 60000) {
    size_t next = 0;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        // A window opened by the last step may still have its first model changes posted to
        // the view; the user would see them before acting, so the step does too.
        QCoreApplication::sendPostedEvents();
        if (next < steps.size() && steps[next].ready()) steps[next++].act();
    });
    driver.start(20);
    start();
    QElapsedTimer clock;
    clock.start();
    while (next < steps.size() && clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    driver.stop();
    return next < steps.size() ? steps[next].what : "";
}

}  // namespace qorvel::test
