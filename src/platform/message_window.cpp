#include "platform/message_window.h"

#include <mutex>
#include <unordered_map>

#include "platform/application.h"
#include "platform/detail/main_queue.h"
#include "platform/exceptions.h"

namespace quelvan::platform {

namespace {

using HandlerPtr = std::shared_ptr<const TMessageWindow::Handler>;

// Live windows by handle. PostMessage queues while holding this lock, so once a window has
// left the registry nothing more can be queued for it and purging the queue is final.
// Lock order: registry, then queue.
struct TWindowRegistry {
    std::mutex Mutex;
    std::unordered_map<TWindowHandle, HandlerPtr> Windows;
    TWindowHandle LastHandle = 0;
};

TWindowRegistry& Registry() {
    static auto* registry = new TWindowRegistry;  // outlives threads still posting at exit
    return *registry;
}

class TPostedMessage : public detail::TQueueEntry {
public:
    TPostedMessage(TWindowHandle Window, HandlerPtr Handler, TMessage Message)
        : window_(Window), handler_(std::move(Handler)), message_(std::move(Message)) {}
    uint64_t Window() const override { return window_; }
    // The entry holds its own reference to the handler, so a handler that destroys its
    // window keeps running on a live function object.
    void Deliver() override {
        try {
            (*handler_)(message_);
        } catch (...) {
            Application().HandleException();
        }
    }

private:
    TWindowHandle window_;
    HandlerPtr handler_;
    TMessage message_;
};

}  // namespace

TMessageWindow::TMessageWindow(Handler H) {
    if (!H) throw EAssertionFailed("A message window needs a handler");
    Application();  // fixes the main thread if nothing has yet
    auto& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.Mutex);
    handle_ = ++registry.LastHandle;
    registry.Windows.emplace(handle_, std::make_shared<const Handler>(std::move(H)));
}

TMessageWindow::~TMessageWindow() {
    HandlerPtr handler;
    {
        auto& registry = Registry();
        std::lock_guard<std::mutex> lock(registry.Mutex);
        auto it = registry.Windows.find(handle_);
        handler = std::move(it->second);
        registry.Windows.erase(it);
    }
    // Undelivered payloads (and the handler) are released here, outside every lock, since
    // their destructors may post or destroy other windows.
    auto undelivered = detail::TMainQueue::Instance().RemoveWindow(handle_);
}

bool PostMessage(TWindowHandle Window, uint32_t Msg, uintptr_t WParam,
                 std::unique_ptr<TMessagePayload> Payload) {
    auto& queue = detail::TMainQueue::Instance();
    {
        auto& registry = Registry();
        std::lock_guard<std::mutex> lock(registry.Mutex);
        auto it = registry.Windows.find(Window);
        if (it == registry.Windows.end()) return false;
        queue.Push(std::make_unique<TPostedMessage>(
            Window, it->second, TMessage{Msg, WParam, std::move(Payload)}));
    }
    queue.CallWakeHook();
    return true;
}

}  // namespace quelvan::platform
