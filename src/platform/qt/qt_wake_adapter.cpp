#include "platform/qt/qt_wake_adapter.h"

#include <QSocketNotifier>
#include <atomic>
#include <cstdint>

#include "platform/application.h"
#include "platform/detail/main_queue.h"
#include "platform/exceptions.h"
#include "platform/sync.h"

namespace quelvan::platform {

// The hook only signals an eventfd that Qt's loop watches, so other threads never touch a Qt
// object: nothing depends on Qt's cross-thread internals, and a thread still holding the hook
// after the adapter is gone merely signals an event nobody watches. Signals made before an
// activation coalesce into it.
//
// Each activation delivers one item and signals again first, until none is left: a handler
// may run a nested Qt loop (a modal dialog) that waits for an item queued behind its own, and
// only a signalled event makes that loop deliver it.

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
        wake->TryConsume();
        auto entry = detail::TMainQueue::Instance().Take(false, UINT64_MAX);
        if (!entry) return;
        wake->SetEvent();  // one more activation: the next item, or a last one that finds none
        try {
            entry->Deliver();
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
