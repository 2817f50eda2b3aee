#include "platform/qt/qt_wake_adapter.h"

#include <QSocketNotifier>
#include <atomic>

#include "platform/application.h"
#include "platform/exceptions.h"
#include "platform/sync.h"

namespace quelvan::platform {

// The hook only signals an eventfd that Qt's loop watches, so other threads never touch a Qt
// object: nothing depends on Qt's cross-thread internals, and a thread still holding the hook
// after the adapter is gone merely signals an event nobody watches. Signals made before a
// drain starts coalesce into that drain.

namespace {
std::atomic<bool> adapterExists{false};
}  // namespace

TQtWakeAdapter::TQtWakeAdapter() {
    if (!Application().IsMainThread())
        throw EAssertionFailed("The Qt wake adapter must be created on the main thread");
    // Signalled at once, to deliver whatever was queued before the hook existed.
    wake_ = std::make_shared<TEvent>(false, true);
    notifier_ = std::make_unique<QSocketNotifier>(wake_->Fd(), QSocketNotifier::Read);
    if (adapterExists.exchange(true))
        throw EAssertionFailed("A Qt wake adapter is already installed");
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [wake = wake_.get()] {
        // Consumed before draining, so an item queued during the drain signals again.
        wake->TryConsume();
        try {
            Application().ProcessMessages();
        } catch (...) {
            // Nothing may escape into Qt's event loop.
            Application().HandleException();
        }
    });
    Application().SetWakeHook([wake = wake_] { wake->SetEvent(); });
}

TQtWakeAdapter::~TQtWakeAdapter() {
    Application().SetWakeHook(nullptr);
    notifier_.reset();
    adapterExists.store(false);
}

}  // namespace quelvan::platform
