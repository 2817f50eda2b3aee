#pragma once
// Message windows: a target for messages posted from any thread and handled on the main
// thread in posting order (the hidden window of a component).
//
// Each message may carry an owning payload. Posting to a window that has been destroyed
// fails (returns false, the payload is released by the caller's unique_ptr). Destroying a
// window releases every payload it had not delivered; a handler may destroy its own window.
// A payload the handler leaves in the message is released right after the handler returns.
// Posted messages are not delivered while the main thread waits in TThread::WaitFor.

#include <cstdint>
#include <functional>
#include <memory>

namespace quelvan::platform {

// Base of everything carried by a message; derive and downcast in the handler.
class TMessagePayload {
public:
    virtual ~TMessagePayload() = default;
};

struct TMessage {
    uint32_t Msg = 0;
    uintptr_t WParam = 0;
    std::unique_ptr<TMessagePayload> Payload;  // the handler may take it
};

using TWindowHandle = uint64_t;  // 0 is never a valid window
constexpr uint32_t WM_USER = 0x0400;

class TMessageWindow {
public:
    using Handler = std::function<void(TMessage& Message)>;

    // Main thread. Handler runs on the main thread for each delivered message; an exception
    // it raises goes to Application().HandleException and delivery goes on.
    explicit TMessageWindow(Handler H);
    ~TMessageWindow();
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;

    TWindowHandle Handle() const { return handle_; }

private:
    TWindowHandle handle_;
};

// Any thread. False when the window no longer exists.
bool PostMessage(TWindowHandle Window, uint32_t Msg, uintptr_t WParam,
                 std::unique_ptr<TMessagePayload> Payload);

}  // namespace quelvan::platform
