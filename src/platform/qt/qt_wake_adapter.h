#pragma once
// Drives Quelvan's main-thread queue from a Qt event loop: whenever a thread posts a message
// or calls Synchronize, Qt's loop is woken and delivers everything pending with
// ProcessMessages. No polling timer is involved. Part of the quelvan60qt library.
//
// Create it on Quelvan's main thread, which must also be the thread running the Qt loop
// (normally the thread that creates QCoreApplication), and keep it for as long as the loop
// should deliver Quelvan messages. Nested Qt loops (modal dialogs opened by a handler) deliver
// too. At most one exists at a time; destroying it removes the wake hook.

#include <memory>

class QSocketNotifier;

namespace quelvan::platform {

class TEvent;

class TQtWakeAdapter {
public:
    // Raises EAssertionFailed off the main thread or when another adapter exists, EOSError
    // when the wake-up event cannot be created.
    TQtWakeAdapter();
    ~TQtWakeAdapter();
    TQtWakeAdapter(const TQtWakeAdapter&) = delete;
    TQtWakeAdapter& operator=(const TQtWakeAdapter&) = delete;

private:
    std::shared_ptr<TEvent> wake_;  // shared with the installed hook
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quelvan::platform
