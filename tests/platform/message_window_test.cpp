// Message windows: posting from any thread, ownership of payloads, handler failures.

#include "platform/message_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/application.h"

namespace quelvan::platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kLongWait = 30s;

// Counts its own destructions, so every payload can be seen to be released exactly once.
class CountedPayload : public TMessagePayload {
public:
    CountedPayload(std::atomic<int>& Released, int V) : Value(V), released_(Released) {}
    ~CountedPayload() override { ++released_; }
    int Value;

private:
    std::atomic<int>& released_;
};

class MessageWindowTest : public ::testing::Test {
protected:
    void SetUp() override { Application().ProcessMessages(); }
    void TearDown() override {
        Application().ProcessMessages();
        Application().OnException = nullptr;
    }

    std::unique_ptr<TMessagePayload> Payload(int Value) {
        return std::make_unique<CountedPayload>(released, Value);
    }
    static int ValueOf(const TMessage& M) {
        return static_cast<const CountedPayload&>(*M.Payload).Value;
    }

    std::atomic<int> released{0};
};

TEST_F(MessageWindowTest, DeliversMsgWParamAndPayloadInPostingOrder) {
    struct Seen {
        uint32_t Msg;
        uintptr_t WParam;
        int Value;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
    TMessageWindow window([&](TMessage& M) { seen.push_back({M.Msg, M.WParam, ValueOf(M)}); });
    const std::vector<Seen> posted = {{WM_USER + 1, 0, 10}, {WM_USER + 2, 1, 20}, {WM_USER + 1, 7, 30}};
    for (const auto& p : posted) ASSERT_TRUE(PostMessage(window.Handle(), p.Msg, p.WParam, Payload(p.Value)));
    EXPECT_EQ(released, 0);
    Application().ProcessMessages();
    EXPECT_EQ(seen, posted);
    EXPECT_EQ(released, 3);  // released after delivery
}

TEST_F(MessageWindowTest, AHandlerMayKeepThePayload) {
    std::unique_ptr<TMessagePayload> kept;
    TMessageWindow window([&](TMessage& M) { kept = std::move(M.Payload); });
    ASSERT_TRUE(PostMessage(window.Handle(), WM_USER, 0, Payload(1)));
    Application().ProcessMessages();
    EXPECT_EQ(released, 0);
    kept.reset();
    EXPECT_EQ(released, 1);
}

TEST_F(MessageWindowTest, PostingToNoWindowFailsAndReleasesThePayload) {
    TWindowHandle gone;
    {
        TMessageWindow window([](TMessage&) { ADD_FAILURE() << "delivered to a destroyed window"; });
        gone = window.Handle();
    }
    EXPECT_FALSE(PostMessage(gone, WM_USER, 0, Payload(1)));
    EXPECT_FALSE(PostMessage(0, WM_USER, 0, Payload(2)));
    EXPECT_EQ(released, 2);
    Application().ProcessMessages();
}

TEST_F(MessageWindowTest, DestroyingAWindowReleasesOnlyItsUndeliveredPayloads) {
    std::vector<int> kept;
    TMessageWindow survivor([&](TMessage& M) { kept.push_back(ValueOf(M)); });
    auto doomed = std::make_unique<TMessageWindow>(
        [](TMessage&) { ADD_FAILURE() << "delivered to a destroyed window"; });
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(PostMessage(doomed->Handle(), WM_USER, 0, Payload(100 + i)));
        ASSERT_TRUE(PostMessage(survivor.Handle(), WM_USER, 0, Payload(i)));
    }
    doomed.reset();
    EXPECT_EQ(released, 3);
    Application().ProcessMessages();
    EXPECT_EQ(kept, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(released, 6);
}

TEST_F(MessageWindowTest, AHandlerMayDestroyItsOwnWindow) {
    std::unique_ptr<TMessageWindow> window;
    int calls = 0;
    window = std::make_unique<TMessageWindow>([&](TMessage&) {
        ++calls;
        window.reset();  // the rest of the queue for it is released here
    });
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(PostMessage(window->Handle(), WM_USER, 0, Payload(i)));
    Application().ProcessMessages();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(released, 3);
}

TEST_F(MessageWindowTest, HandlerExceptionsAreShownAndDeliveryGoesOn) {
    std::vector<std::string> shown;
    Application().OnException = [&](const std::exception& E) { shown.emplace_back(E.what()); };
    std::vector<int> handled;
    TMessageWindow window([&](TMessage& M) {
        handled.push_back(ValueOf(M));
        if (ValueOf(M) == 1) throw Exception("handler failed");
        if (ValueOf(M) == 2) throw EAbort();
    });
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(PostMessage(window.Handle(), WM_USER, 0, Payload(i)));
    Application().ProcessMessages();
    EXPECT_EQ(handled, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(shown, std::vector<std::string>{"handler failed"});
    EXPECT_EQ(released, 4);
}

TEST_F(MessageWindowTest, AWindowNeedsAHandler) {
    EXPECT_THROW(TMessageWindow(TMessageWindow::Handler{}), EAssertionFailed);
}

TEST_F(MessageWindowTest, EachThreadsMessagesArriveInItsPostingOrder) {
    constexpr int kThreads = 4, kPerThread = 200;
    std::vector<std::vector<int>> received(kThreads);
    int total = 0;
    TMessageWindow window([&](TMessage& M) {
        received[M.WParam].push_back(ValueOf(M));
        ++total;
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                PostMessage(window.Handle(), WM_USER, static_cast<uintptr_t>(t), Payload(i));
        });
    EXPECT_TRUE(Application().ProcessMessagesUntil([&] { return total == kThreads * kPerThread; },
                                                    kLongWait));
    for (auto& w : workers) w.join();
    std::vector<int> expected(kPerThread);
    for (int i = 0; i < kPerThread; ++i) expected[i] = i;
    for (const auto& r : received) EXPECT_EQ(r, expected);
    EXPECT_EQ(released, kThreads * kPerThread);
}

TEST_F(MessageWindowTest, PostingWhileTheWindowIsDestroyedNeitherLeaksNorDeliversLate) {
    // Workers keep posting while the main thread destroys the window: every payload is either
    // refused, delivered before the destruction, or released by it; none is lost or freed twice.
    constexpr int kThreads = 3;
    std::atomic<int> accepted{0}, refused{0};
    int delivered = 0;
    auto window = std::make_unique<TMessageWindow>([&](TMessage&) { ++delivered; });
    const TWindowHandle handle = window->Handle();
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&] {
            while (!stop) {
                if (PostMessage(handle, WM_USER, 0, Payload(0))) {
                    ++accepted;
                } else {
                    ++refused;
                    stop = true;
                }
            }
        });
    EXPECT_TRUE(Application().ProcessMessagesUntil([&] { return delivered >= 100; }, kLongWait));
    window.reset();
    for (auto& w : workers) w.join();
    Application().ProcessMessages();
    EXPECT_GE(refused, 1);
    EXPECT_EQ(released, accepted + refused);
    EXPECT_LE(delivered, accepted);
}

}  // namespace
}  // namespace quelvan::platform
