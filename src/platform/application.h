#pragma once
// The process-wide application object: the main thread's message queue, the exception
// display, and Synchronize.
//
// The thread that first calls Application() is the main thread. Other threads hand work to
// it by posting to a message window (message_window.h) or with Synchronize. Nothing is
// delivered until the main thread calls ProcessMessages or ProcessMessagesUntil (or a
// foreign loop drains the queue after the wake hook fired, see qt/qt_wake_adapter.h). The
// object lives until the process ends, so threads may still post during static destruction.

#include <chrono>
#include <exception>
#include <functional>
#include <string>
#include <thread>

#include "platform/exceptions.h"

namespace quelvan::platform {

class TApplication {
public:
    // The delivery calls below are for the main thread only and raise EAssertionFailed on
    // any other. They may be nested: a message handler or a synchronized method may call
    // them again.

    // Delivers every message and Synchronize request queued before the call; returns at once
    // when there is none (what handlers post meanwhile waits for the next call).
    void ProcessMessages();
    // Delivers queued items one at a time, waiting (blocking, no polling) for more, until
    // Predicate holds or Timeout passes; returns whether the predicate held. The predicate is
    // checked first, after each delivered item, after each Wake, whenever a TThread
    // finishes, and once more at the time-out. A predicate on state that another thread
    // changes without posting needs that thread to call Wake afterwards.
    bool ProcessMessagesUntil(const std::function<bool()>& Predicate,
                              std::chrono::milliseconds Timeout);
    // Waits up to Timeout for at least one message, then delivers what is pending. Returns
    // whether anything was delivered.
    bool WaitAndProcessMessages(std::chrono::milliseconds Timeout);

    // Any thread: makes a waiting ProcessMessagesUntil re-check its predicate.
    void Wake();

    // Shows the current exception (call inside a catch block): through OnException when
    // set, otherwise its message on stderr as "<Title>: <message>". EAbort is silent, a null
    // exception_ptr is ignored, an exception not derived from std::exception is shown as
    // "Unknown exception". Never throws: when OnException itself throws, the original
    // message goes to stderr. Meant for the main thread (OnException and Title are not
    // guarded); threads hand their exceptions over with Synchronize.
    void HandleException();
    void HandleException(std::exception_ptr E);
    std::function<void(const std::exception& E)> OnException;

    // Defaults to the program's name.
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& Title) { title_ = Title; }

    bool IsMainThread() const;

    // Called from any thread whenever something is queued for the main thread, so a foreign
    // event loop can schedule a ProcessMessages call. It is called with no lock held, may run
    // after it has been replaced (a thread that had already fetched it), and must not block.
    // An empty function removes it.
    void SetWakeHook(std::function<void()> Hook);

private:
    friend TApplication& Application();
    TApplication();
    std::string title_;
    const std::thread::id mainThread_;
};

// The application object; the first call fixes the main thread.
TApplication& Application();

// Runs Method on the main thread and waits for it. On the main thread it runs directly. An
// exception raised by Method is raised again in the caller with its own type. Requests are
// served in posting order among the messages by ProcessMessages and its kin, and (alone)
// while the main thread waits for a thread in TThread::WaitFor. A thread that synchronizes
// while the main thread is not pumping waits until it does.
void Synchronize(const std::function<void()>& Method);

}  // namespace quelvan::platform
