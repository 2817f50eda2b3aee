// The Qt wake adapter: Qt's own event loop delivers what threads post or synchronize, with no
// polling timer.

#include "platform/qt/qt_wake_adapter.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/application.h"
#include "platform/message_window.h"

namespace quelvan::platform {
namespace {

class QtWakeAdapterTest : public ::testing::Test {
protected:
    void SetUp() override { Application().ProcessMessages(); }
    void TearDown() override { Application().ProcessMessages(); }

    // Runs Qt's loop until the test calls Quit; false when the safety time-out ended it.
    bool RunLoop() {
        bool timedOut = false;
        QTimer safety;
        safety.setSingleShot(true);
        QObject::connect(&safety, &QTimer::timeout, [&] {
            timedOut = true;
            QCoreApplication::quit();
        });
        safety.start(30000);
        QCoreApplication::exec();
        return !timedOut;
    }

    // A window handler whose message 1 runs Nested until message 2 ends it (as a modal dialog
    // would), then quits Qt's loop; Trace shows the order.
    static TMessageWindow::Handler Nesting(QEventLoop& Nested, std::vector<std::string>& Trace) {
        return [&Nested, &Trace](TMessage& M) {
            Trace.push_back("begin " + std::to_string(M.Msg));
            if (M.Msg == 1) {
                Nested.exec();
                QCoreApplication::quit();
            }
            if (M.Msg == 2) Nested.quit();
            Trace.push_back("end " + std::to_string(M.Msg));
        };
    }

    int argc = 1;
    char name[16] = "qt_tests";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
};

TEST_F(QtWakeAdapterTest, QtsLoopDeliversPostsAndSynchronizeFromAThread) {
    TQtWakeAdapter adapter;
    const auto mainId = std::this_thread::get_id();
    std::vector<uint32_t> delivered;
    TMessageWindow window([&](TMessage& M) {
        EXPECT_EQ(std::this_thread::get_id(), mainId);
        delivered.push_back(M.Msg);
        if (M.Msg == 0) QCoreApplication::quit();
    });
    std::exception_ptr caught;
    std::thread worker([&] {
        for (uint32_t i = 1; i <= 20; ++i) PostMessage(window.Handle(), i, 0, nullptr);
        Synchronize([&] {
            EXPECT_EQ(std::this_thread::get_id(), mainId);
            delivered.push_back(100);
        });
        try {
            Synchronize([] { throw std::invalid_argument("from the main thread"); });
        } catch (...) {
            caught = std::current_exception();
        }
        PostMessage(window.Handle(), 0, 0, nullptr);
    });
    const bool finished = RunLoop();
    worker.join();
    ASSERT_TRUE(finished);
    std::vector<uint32_t> expected;
    for (uint32_t i = 1; i <= 20; ++i) expected.push_back(i);
    expected.push_back(100);
    expected.push_back(0);
    EXPECT_EQ(delivered, expected);
    ASSERT_TRUE(caught);
    EXPECT_THROW(std::rethrow_exception(caught), std::invalid_argument);
}

TEST_F(QtWakeAdapterTest, ANestedQtLoopInAHandlerKeepsDelivering) {
    // A handler that opens a modal loop (as a dialog would) must still see later messages.
    TQtWakeAdapter adapter;
    QEventLoop nested;
    std::vector<std::string> trace;
    TMessageWindow window(Nesting(nested, trace));
    ASSERT_TRUE(PostMessage(window.Handle(), 1, 0, nullptr));
    // Posted from a thread once the nested loop runs.
    std::thread worker;
    QTimer::singleShot(0, &nested, [&] {
        worker = std::thread([&] { PostMessage(window.Handle(), 2, 0, nullptr); });
    });
    const bool finished = RunLoop();
    if (worker.joinable()) worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(trace, (std::vector<std::string>{"begin 1", "begin 2", "end 2", "end 1"}));
}

// The message a nested loop waits for may already be queued, behind the one whose handler
// opens the loop, when Qt's loop first wakes: it must still reach the nested loop.
TEST_F(QtWakeAdapterTest, ANestedQtLoopGetsWhatWasQueuedBehindItsMessage) {
    TQtWakeAdapter adapter;
    QEventLoop nested;
    std::vector<std::string> trace;
    TMessageWindow window(Nesting(nested, trace));
    ASSERT_TRUE(PostMessage(window.Handle(), 1, 0, nullptr));
    ASSERT_TRUE(PostMessage(window.Handle(), 2, 0, nullptr));
    ASSERT_TRUE(RunLoop());
    EXPECT_EQ(trace, (std::vector<std::string>{"begin 1", "begin 2", "end 2", "end 1"}));
}

TEST_F(QtWakeAdapterTest, DrainsWhatWasQueuedBeforeItWasInstalled) {
    bool delivered = false;
    TMessageWindow window([&](TMessage&) {
        delivered = true;
        QCoreApplication::quit();
    });
    ASSERT_TRUE(PostMessage(window.Handle(), WM_USER, 0, nullptr));
    TQtWakeAdapter adapter;
    ASSERT_TRUE(RunLoop());
    EXPECT_TRUE(delivered);
}

TEST_F(QtWakeAdapterTest, ThereIsOneAdapterAtATimeOnTheMainThreadOnly) {
    {
        TQtWakeAdapter adapter;
        EXPECT_THROW(TQtWakeAdapter(), EAssertionFailed);
        std::exception_ptr offMain;
        std::thread([&] {
            try {
                TQtWakeAdapter other;
            } catch (...) {
                offMain = std::current_exception();
            }
        }).join();
        ASSERT_TRUE(offMain);
        EXPECT_THROW(std::rethrow_exception(offMain), EAssertionFailed);
    }
    TQtWakeAdapter again;  // the first one is gone
}

TEST_F(QtWakeAdapterTest, HandlerExceptionsAreShownAndQtsLoopGoesOn) {
    TQtWakeAdapter adapter;
    std::vector<std::string> shown;
    Application().OnException = [&](const std::exception& E) { shown.emplace_back(E.what()); };
    TMessageWindow window([&](TMessage& M) {
        if (M.Msg == 1) throw Exception("handler failed");
        QCoreApplication::quit();
    });
    std::thread worker([&] {
        PostMessage(window.Handle(), 1, 0, nullptr);
        PostMessage(window.Handle(), 2, 0, nullptr);
    });
    const bool finished = RunLoop();
    worker.join();
    Application().OnException = nullptr;
    ASSERT_TRUE(finished);
    EXPECT_EQ(shown, std::vector<std::string>{"handler failed"});
}

}  // namespace
}  // namespace quelvan::platform
