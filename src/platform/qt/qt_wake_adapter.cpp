#include "platform/qt/qt_wake_adapter.h"

#include <QMetaObject>
#include <QObject>
#include <atomic>
#include <mutex>

#include "platform/application.h"
#include "platform/exceptions.h"

namespace quelvan::platform {

namespace {
std::atomic<bool> adapterExists{false};
}  // namespace

// The hook may run on any thread, even while the adapter is being destroyed, so it reaches
// the Qt context only through this state: under Mutex, Context is either a live object or
// null.
struct TQtWakeAdapter::State {
    std::mutex Mutex;
    QObject* Context = nullptr;
    // A drain is queued in Qt's loop and has not started yet: further wakes need no other.
    std::atomic<bool> DrainQueued{false};

    void ScheduleDrain(const std::shared_ptr<State>& Self) {
        if (DrainQueued.exchange(true)) return;
        std::lock_guard<std::mutex> lock(Mutex);
        if (!Context) return;
        // Runs on Context's thread, the main thread; Qt drops it if Context is deleted first.
        QMetaObject::invokeMethod(
            Context,
            [Self] {
                // Cleared before draining, so an item queued during the drain queues another.
                Self->DrainQueued.store(false);
                try {
                    Application().ProcessMessages();
                } catch (...) {
                    // Nothing may escape into Qt's event loop.
                    Application().HandleException();
                }
            },
            Qt::QueuedConnection);
    }
};

TQtWakeAdapter::TQtWakeAdapter() {
    if (!Application().IsMainThread())
        throw EAssertionFailed("The Qt wake adapter must be created on the main thread");
    state_ = std::make_shared<State>();
    context_ = std::make_unique<QObject>();
    if (adapterExists.exchange(true))
        throw EAssertionFailed("A Qt wake adapter is already installed");
    state_->Context = context_.get();
    Application().SetWakeHook([state = state_] { state->ScheduleDrain(state); });
    // Whatever was queued before the hook existed.
    state_->ScheduleDrain(state_);
}

TQtWakeAdapter::~TQtWakeAdapter() {
    Application().SetWakeHook(nullptr);
    {
        std::lock_guard<std::mutex> lock(state_->Mutex);
        state_->Context = nullptr;
    }
    context_.reset();
    adapterExists.store(false);
}

}  // namespace quelvan::platform
