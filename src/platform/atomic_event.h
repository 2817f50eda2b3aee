#pragma once
// An event handler slot that another thread may ask "is a handler assigned?" without a data
// race: assignment happens on the main thread, the flag is atomic. Calling the handler is for
// the main thread only. Behaves like the std::function it wraps.

#include <atomic>
#include <functional>
#include <utility>

namespace quelvan::platform {

template <typename Signature>
class TAtomicEvent {
public:
    using Function = std::function<Signature>;

    TAtomicEvent() = default;
    TAtomicEvent(const TAtomicEvent&) = delete;
    TAtomicEvent& operator=(const TAtomicEvent&) = delete;

    TAtomicEvent& operator=(Function F) {
        fn_ = std::move(F);
        assigned_.store(static_cast<bool>(fn_), std::memory_order_release);
        return *this;
    }
    TAtomicEvent& operator=(std::nullptr_t) { return *this = Function(); }

    explicit operator bool() const { return static_cast<bool>(fn_); }
    // Any thread.
    bool IsAssigned() const { return assigned_.load(std::memory_order_acquire); }
    const Function& Get() const { return fn_; }

    template <typename... A>
    auto operator()(A&&... Args) const {
        return fn_(std::forward<A>(Args)...);
    }

private:
    Function fn_;
    std::atomic<bool> assigned_{false};
};

}  // namespace quelvan::platform
