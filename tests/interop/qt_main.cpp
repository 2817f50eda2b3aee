// The Qt interop suites run in one Qt application: its loop on this (the main) thread delivers
// both Qt's events and Quelvan's messages.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "platform/application.h"
#include "platform/qt/qt_wake_adapter.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    quelvan::platform::Application();  // this thread is Quelvan's main thread too
    quelvan::platform::TQtWakeAdapter adapter;
    return RUN_ALL_TESTS();
}
