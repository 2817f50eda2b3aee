// TThread: life cycle, waiting (and serving Synchronize meanwhile), failures, priorities and
// the tick counter.

#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/application.h"
#include "platform/message_window.h"
#include "platform/sync.h"
#include "support/test_thread.h"

namespace quelvan::platform {
namespace {

using namespace std::chrono_literals;
using test::TFunctionThread;

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override { Application().ProcessMessages(); }
    void TearDown() override { Application().ProcessMessages(); }
};

TEST_F(ThreadTest, RunsOnlyAfterStartAndUntilTerminated) {
    TEvent wake(false, false);
    std::atomic<bool> ran{false};
    TFunctionThread thread([&](TFunctionThread& Self) {
        ran = true;
        while (!Self.Terminated()) wake.WaitFor(INFINITE_WAIT);
    });
    EXPECT_FALSE(ran);
    EXPECT_FALSE(thread.Finished());
    thread.Start();
    thread.Terminate();
    EXPECT_TRUE(thread.Terminated());
    wake.SetEvent();
    thread.WaitFor();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(thread.Finished());
    EXPECT_FALSE(thread.FatalException());
    thread.WaitFor();  // waiting again is harmless
}

TEST_F(ThreadTest, MisuseIsRefusedClearly) {
    TFunctionThread never([](TFunctionThread&) {});
    never.WaitFor();  // never started: nothing to wait for

    std::exception_ptr selfWait;
    TFunctionThread thread([&](TFunctionThread& Self) {
        try {
            Self.WaitFor();
        } catch (...) {
            selfWait = std::current_exception();
        }
    });
    thread.Start();
    EXPECT_THROW(thread.Start(), EAssertionFailed);
    thread.WaitFor();
    ASSERT_TRUE(selfWait);
    EXPECT_THROW(std::rethrow_exception(selfWait), EAssertionFailed);
}

TEST_F(ThreadTest, AnExceptionEscapingExecuteEndsOnlyThatThread) {
    TFunctionThread thread([](TFunctionThread&) { throw std::length_error("escaped"); });
    thread.Start();
    thread.WaitFor();
    ASSERT_TRUE(thread.FatalException());
    EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::length_error);
}

TEST_F(ThreadTest, WaitForOnTheMainThreadServesSynchronize) {
    const auto mainId = std::this_thread::get_id();
    int served = 0;  // touched only on the main thread
    std::vector<std::unique_ptr<TFunctionThread>> threads;
    for (int t = 0; t < 3; ++t) {
        threads.push_back(std::make_unique<TFunctionThread>([&](TFunctionThread&) {
            for (int i = 0; i < 50; ++i)
                Synchronize([&] {
                    EXPECT_EQ(std::this_thread::get_id(), mainId);
                    ++served;
                });
        }));
        threads.back()->Start();
    }
    for (auto& t : threads) t->WaitFor();
    EXPECT_EQ(served, 150);
}

TEST_F(ThreadTest, WaitForServesSynchronizeButNotMessages) {
    std::vector<std::string> trace;
    TMessageWindow window([&](TMessage&) { trace.push_back("message"); });
    TFunctionThread thread([&](TFunctionThread&) {
        PostMessage(window.Handle(), WM_USER, 0, nullptr);
        Synchronize([&] { trace.push_back("synchronize"); });
    });
    thread.Start();
    thread.WaitFor();
    EXPECT_EQ(trace, std::vector<std::string>{"synchronize"});
    Application().ProcessMessages();
    EXPECT_EQ(trace, (std::vector<std::string>{"synchronize", "message"}));
}

TEST_F(ThreadTest, DestroyingARunningThreadWaitsAndServesSynchronize) {
    // The connection's way of stopping its thread: the destructor terminates, wakes and
    // waits while the thread is still handing work to the main thread.
    TEvent wake(false, false);
    int served = 0;
    {
        TFunctionThread thread([&](TFunctionThread& Self) {
            while (!Self.Terminated()) wake.WaitFor(INFINITE_WAIT);
            Synchronize([&] { ++served; });
        });
        thread.Start();
        thread.Terminate();
        wake.SetEvent();
    }
    EXPECT_EQ(served, 1);
}

TEST_F(ThreadTest, WaitForOffTheMainThreadJoins) {
    TEvent release(true, false);
    std::atomic<bool> ended{false};
    TFunctionThread target([&](TFunctionThread&) {
        release.WaitFor(INFINITE_WAIT);
        ended = true;
    });
    target.Start();
    std::atomic<bool> sawEnd{false};
    std::thread waiter([&] {
        target.WaitFor();
        sawEnd = ended.load();
    });
    release.SetEvent();
    waiter.join();
    EXPECT_TRUE(sawEnd);
}

TEST_F(ThreadTest, ProcessMessagesUntilNoticesAThreadFinishing) {
    TFunctionThread thread([](TFunctionThread&) {});
    thread.Start();
    EXPECT_TRUE(Application().ProcessMessagesUntil([&] { return thread.Finished(); }, 30s));
}

class PriorityTest : public ThreadTest, public ::testing::WithParamInterface<TThreadPriority> {};

TEST_P(PriorityTest, IsKeptBeforeAndAfterStartWhateverTheSystemGrants) {
    TEvent go(false, false);
    std::atomic<bool> ran{false};
    TFunctionThread thread([&](TFunctionThread&) {
        go.WaitFor(INFINITE_WAIT);
        ran = true;
    });
    thread.SetPriority(GetParam());
    EXPECT_EQ(thread.Priority(), GetParam());
    thread.Start();
    thread.SetPriority(GetParam() == tpNormal ? tpLower : tpNormal);
    thread.SetPriority(GetParam());
    EXPECT_EQ(thread.Priority(), GetParam());
    go.SetEvent();
    thread.WaitFor();
    EXPECT_TRUE(ran);
    thread.SetPriority(tpHigher);  // after the end: stored only
    EXPECT_EQ(thread.Priority(), tpHigher);
}

INSTANTIATE_TEST_SUITE_P(Levels, PriorityTest,
                         ::testing::Values(tpIdle, tpLowest, tpLower, tpNormal, tpHigher,
                                           tpHighest, tpTimeCritical));

TEST_F(ThreadTest, AnUnknownPriorityIsRefused) {
    TFunctionThread thread([](TFunctionThread&) {});
    EXPECT_THROW(thread.SetPriority(static_cast<TThreadPriority>(7)), EAssertionFailed);
    EXPECT_EQ(thread.Priority(), tpNormal);
}

TEST(TickCount, IsTheMonotonicClockInMillisecondsModulo2To32) {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    auto clockMs = [] {
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
    };
    const uint32_t before = clockMs();
    const uint32_t tick = GetTickCount();
    const uint32_t after = clockMs();
    // Unsigned differences stay right across the wrap.
    EXPECT_LE(static_cast<uint32_t>(tick - before), static_cast<uint32_t>(after - before));

    const uint32_t start = GetTickCount();
    TThread::Sleep(20);
    EXPECT_GE(static_cast<uint32_t>(GetTickCount() - start), 20u);
    TThread::Yield();
}

}  // namespace
}  // namespace quelvan::platform
