// The main-thread queue, the exception display and Synchronize.

#include "platform/application.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_window.h"

namespace quelvan::platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kLongWait = 30s;  // bound for waits that should end much sooner

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override { Application().ProcessMessages(); }
    void TearDown() override {
        Application().ProcessMessages();
        Application().OnException = nullptr;
        Application().SetWakeHook(nullptr);
    }

    // A window that records each message's Msg in delivery order.
    std::vector<uint32_t> delivered;
    TMessageWindow window{[this](TMessage& M) { delivered.push_back(M.Msg); }};

    bool Post(uint32_t Msg) { return PostMessage(window.Handle(), Msg, 0, nullptr); }
};

TEST_F(ApplicationTest, UntilStopsAsSoonAsThePredicateHolds) {
    for (uint32_t i = 1; i <= 5; ++i) ASSERT_TRUE(Post(i));
    EXPECT_TRUE(Application().ProcessMessagesUntil([&] { return delivered.size() == 2; }, kLongWait));
    EXPECT_EQ(delivered, (std::vector<uint32_t>{1, 2}));
    Application().ProcessMessages();
    EXPECT_EQ(delivered, (std::vector<uint32_t>{1, 2, 3, 4, 5}));
}

TEST_F(ApplicationTest, UntilChecksThePredicateBeforeDelivering) {
    ASSERT_TRUE(Post(1));
    EXPECT_TRUE(Application().ProcessMessagesUntil([] { return true; }, kLongWait));
    EXPECT_TRUE(delivered.empty());
}

TEST_F(ApplicationTest, UntilReportsATimeOutWithAFalsePredicate) {
    EXPECT_FALSE(Application().ProcessMessagesUntil([] { return false; }, 20ms));
    EXPECT_FALSE(Application().ProcessMessagesUntil([] { return false; }, -5ms));
    EXPECT_FALSE(Application().WaitAndProcessMessages(20ms));
}

TEST_F(ApplicationTest, UntilWakesForAMessagePostedByAnotherThread) {
    std::thread worker([this] { Post(7); });
    EXPECT_TRUE(Application().ProcessMessagesUntil([&] { return !delivered.empty(); }, kLongWait));
    worker.join();
    EXPECT_EQ(delivered, std::vector<uint32_t>{7});
}

TEST_F(ApplicationTest, WaitAndProcessDeliversWhatAnotherThreadPosted) {
    std::thread worker([this] {
        Post(1);
        Post(2);
    });
    while (delivered.size() < 2) ASSERT_TRUE(Application().WaitAndProcessMessages(kLongWait));
    worker.join();
    EXPECT_EQ(delivered, (std::vector<uint32_t>{1, 2}));
}

TEST_F(ApplicationTest, ProcessMessagesLeavesWhatHandlersPostForTheNextCall) {
    // A handler that posts again must not keep ProcessMessages going forever.
    TMessageWindow echo([&](TMessage& M) {
        delivered.push_back(M.Msg);
        PostMessage(M.WParam, M.Msg + 1, M.WParam, nullptr);
    });
    ASSERT_TRUE(PostMessage(echo.Handle(), 1, echo.Handle(), nullptr));
    Application().ProcessMessages();
    EXPECT_EQ(delivered, std::vector<uint32_t>{1});
    Application().ProcessMessages();
    EXPECT_EQ(delivered, (std::vector<uint32_t>{1, 2}));
}

TEST_F(ApplicationTest, HandlersMayPumpTheQueueAgain) {
    std::vector<std::string> trace;
    TMessageWindow nested([&](TMessage& M) {
        trace.push_back("begin " + std::to_string(M.Msg));
        if (M.Msg == 1) Application().ProcessMessages();
        if (M.Msg == 2)
            Application().ProcessMessagesUntil([&] { return trace.size() >= 4; }, kLongWait);
        trace.push_back("end " + std::to_string(M.Msg));
    });
    for (uint32_t i = 1; i <= 4; ++i) ASSERT_TRUE(PostMessage(nested.Handle(), i, 0, nullptr));
    Application().ProcessMessages();
    EXPECT_EQ(trace, (std::vector<std::string>{"begin 1", "begin 2", "begin 3", "end 3", "end 2",
                                               "begin 4", "end 4", "end 1"}));
    Application().ProcessMessages();
    EXPECT_EQ(trace.size(), 8u);
}

TEST_F(ApplicationTest, MessagesAndSynchronizeKeepPostingOrder) {
    std::thread worker([this] {
        Post(1);
        Synchronize([this] { delivered.push_back(100); });
        Post(2);
    });
    EXPECT_TRUE(Application().ProcessMessagesUntil([&] { return delivered.size() == 3; }, kLongWait));
    worker.join();
    EXPECT_EQ(delivered, (std::vector<uint32_t>{1, 100, 2}));
}

TEST_F(ApplicationTest, DeliveryCallsRefuseOtherThreads) {
    const std::vector<std::function<void()>> calls = {
        [] { Application().ProcessMessages(); },
        [] { Application().ProcessMessagesUntil([] { return true; }, 0ms); },
        [] { Application().WaitAndProcessMessages(0ms); },
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        std::exception_ptr error;
        std::thread([&] {
            try {
                calls[i]();
            } catch (...) {
                error = std::current_exception();
            }
        }).join();
        SCOPED_TRACE(i);
        ASSERT_TRUE(error);
        EXPECT_THROW(std::rethrow_exception(error), EAssertionFailed);
    }
}

TEST_F(ApplicationTest, WakeHookRunsOnThePostingThreadWithNoLockHeld) {
    std::mutex m;
    std::vector<std::thread::id> hookThreads;
    Application().SetWakeHook([&] {
        size_t calls;
        {
            std::lock_guard<std::mutex> lock(m);
            hookThreads.push_back(std::this_thread::get_id());
            calls = hookThreads.size();
        }
        // Posting from the hook would deadlock if the hook ran under the queue's lock.
        if (calls == 1) Post(99);
    });
    bool synchronized = false;
    std::thread worker([&] {
        Post(1);
        Synchronize([&] { synchronized = true; });
    });
    EXPECT_TRUE(Application().ProcessMessagesUntil([&] { return synchronized; }, kLongWait));
    const auto workerId = worker.get_id();
    worker.join();
    Application().SetWakeHook(nullptr);
    // The post, the hook's own post, Synchronize: all on the worker.
    EXPECT_EQ(hookThreads, std::vector<std::thread::id>(3, workerId));
    EXPECT_EQ(delivered, (std::vector<uint32_t>{1, 99}));
}

// ---- the exception display ----

struct ShownCase {
    const char* Name;
    std::exception_ptr Error;
    const char* Shown;  // nullptr: nothing is shown
};

class HandleExceptionTest : public ApplicationTest,
                            public ::testing::WithParamInterface<ShownCase> {};

TEST_P(HandleExceptionTest, GoesToOnException) {
    std::vector<std::string> shown;
    Application().OnException = [&](const std::exception& E) { shown.emplace_back(E.what()); };
    Application().HandleException(GetParam().Error);
    if (GetParam().Shown)
        EXPECT_EQ(shown, std::vector<std::string>{GetParam().Shown});
    else
        EXPECT_TRUE(shown.empty());
}

TEST_P(HandleExceptionTest, GoesToStderrWithTheTitle) {
    Application().SetTitle("Quelvan test");
    testing::internal::CaptureStderr();
    Application().HandleException(GetParam().Error);
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, GetParam().Shown ? "Quelvan test: " + std::string(GetParam().Shown) + "\n" : "");
}

TEST_P(HandleExceptionTest, StillReachesStderrWhenOnExceptionThrows) {
    Application().SetTitle("T");
    Application().OnException = [](const std::exception&) { throw std::runtime_error("broken"); };
    testing::internal::CaptureStderr();
    Application().HandleException(GetParam().Error);
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, GetParam().Shown ? "T: " + std::string(GetParam().Shown) + "\n" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, HandleExceptionTest,
    ::testing::Values(
        ShownCase{"Library", std::make_exception_ptr(Exception("Port closed")), "Port closed"},
        ShownCase{"OS", std::make_exception_ptr(EOSError(2, "Open")),
                  "Open: No such file or directory (errno 2)"},
        ShownCase{"Std", std::make_exception_ptr(std::out_of_range("index")), "index"},
        ShownCase{"NotStd", std::make_exception_ptr(42), "Unknown exception"},
        ShownCase{"Abort", std::make_exception_ptr(EAbort()), nullptr},
        ShownCase{"Null", nullptr, nullptr}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ApplicationTest, HandleExceptionWithoutArgumentShowsTheCurrentOne) {
    std::string shown;
    Application().OnException = [&](const std::exception& E) { shown = E.what(); };
    try {
        throw Exception("current");
    } catch (...) {
        Application().HandleException();
    }
    EXPECT_EQ(shown, "current");
}

// ---- Synchronize ----

TEST_F(ApplicationTest, SynchronizeRunsOnTheMainThread) {
    const auto mainId = std::this_thread::get_id();
    std::vector<std::thread::id> ranOn;
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([&] {
            for (int k = 0; k < 20; ++k) Synchronize([&] { ranOn.push_back(std::this_thread::get_id()); });
        });
    EXPECT_TRUE(Application().ProcessMessagesUntil([&] { return ranOn.size() == 60; }, kLongWait));
    for (auto& w : workers) w.join();
    ASSERT_EQ(ranOn.size(), 60u);
    for (auto id : ranOn) EXPECT_EQ(id, mainId);
}

TEST_F(ApplicationTest, SynchronizeOnTheMainThreadRunsDirectly) {
    bool ran = false;
    Synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_THROW(Synchronize([] { throw EAbort(); }), EAbort);
}

TEST_F(ApplicationTest, SynchronizeRaisesTheMethodsExceptionInTheCaller) {
    std::exception_ptr caught;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            Synchronize([] { throw EOSError(5, "Write"); });
        } catch (...) {
            caught = std::current_exception();
        }
        done = true;
        Application().Wake();  // done changed without a message
    });
    EXPECT_TRUE(Application().ProcessMessagesUntil([&] { return done.load(); }, kLongWait));
    worker.join();
    ASSERT_TRUE(caught);
    try {
        std::rethrow_exception(caught);
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode(), 5);
        EXPECT_EQ(e.Message(), "Write: Input/output error (errno 5)");
    } catch (...) {
        ADD_FAILURE() << "the exception lost its type";
    }
}

}  // namespace
}  // namespace quelvan::platform
