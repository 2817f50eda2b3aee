#include "platform/sync.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/exceptions.h"

namespace quelvan::platform {

// The eventfd counter is 0 (clear) or 1 (signalled). Setting writes only when clear is not
// knowable without a race, so SetEvent writes 1 and readers drain the whole counter: any
// number of sets before a wait count as one signal, as for a Windows event.

TEvent::TEvent(bool ManualReset, bool InitialState)
    : fd_(eventfd(InitialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)), manual_(ManualReset) {
    if (fd_ < 0) RaiseLastOSError("Cannot create event");
}

TEvent::~TEvent() { close(fd_); }

void TEvent::SetEvent() {
    uint64_t one = 1;
    // EAGAIN only when the counter is near overflow, which cannot happen with 0/1 values
    // drained by every reset; nothing useful can be done about any other failure here.
    while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TEvent::ResetEvent() {
    uint64_t v;
    while (read(fd_, &v, sizeof v) < 0 && errno == EINTR) {
    }
}

bool TEvent::TryConsume() {
    if (manual_) {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }
    uint64_t v;
    for (;;) {
        if (read(fd_, &v, sizeof v) == sizeof v) return true;
        if (errno != EINTR) return false;
    }
}

bool TEvent::WaitFor(uint32_t Timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(Timeout);
    for (;;) {
        int ms = -1;
        if (Timeout != INFINITE_WAIT) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            ms = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd p{fd_, POLLIN, 0};
        int r = poll(&p, 1, ms);
        if (r < 0) {
            if (errno == EINTR) continue;
            RaiseLastOSError("Cannot wait for event");
        }
        if (r == 0) return false;
        if (TryConsume()) return true;  // another waiter may have taken an auto-reset signal
        if (ms == 0) return false;
    }
}

}  // namespace quelvan::platform
