#pragma once
// Drives Quelvan's main-thread queue from a Qt event loop: whenever a thread posts a message
// or calls Synchronize, a drain call is queued into Qt's loop, which then delivers everything
// pending with ProcessMessages. No polling timer is involved. Part of the quelvan60qt
// library.
//
// Create it on Quelvan's main thread, which must also be the thread running the Qt loop
// (normally the thread that creates QCoreApplication), and keep it for as long as the loop
// should deliver Quelvan messages. At most one exists at a time; destroying it removes the
// wake hook. Drains already scheduled when it is destroyed are dropped.

#include <memory>

class QObject;

namespace quelvan::platform {

class TQtWakeAdapter {
public:
    // Raises EAssertionFailed off the main thread or when another adapter exists.
    TQtWakeAdapter();
    ~TQtWakeAdapter();
    TQtWakeAdapter(const TQtWakeAdapter&) = delete;
    TQtWakeAdapter& operator=(const TQtWakeAdapter&) = delete;

private:
    struct State;
    std::shared_ptr<State> state_;  // shared with the installed hook
    std::unique_ptr<QObject> context_;
};

}  // namespace quelvan::platform
