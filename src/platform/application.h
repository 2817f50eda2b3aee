#pragma once
// The process-wide application object: the main thread's message queue, the exception
// display, and Synchronize.
//
// The thread that first calls Application() is the main thread. Other threads hand work to
// it by posting to a message window (message_window.h) or with Synchronize. Nothing is
// delivered until the main thread calls ProcessMessages or ProcessMessagesUntil (or a
// foreign loop drains the queue after the wake hook fired, see qt/qt_wake_adapter.h).

#include <chrono>
#include <exception>
#include <functional>
#include <string>

#include "platform/exceptions.h"

namespace quelvan::platform {

class TApplication {
public:
    // Delivers every message and Synchronize request pending now; returns at once when there
    // is none. Main thread only.
    void ProcessMessages();
    // Waits (blocking, no polling) and delivers until Predicate holds or Timeout passes;
    // returns whether the predicate held. Main thread only.
    bool ProcessMessagesUntil(const std::function<bool()>& Predicate,
                              std::chrono::milliseconds Timeout);
    // Waits up to Timeout for at least one message, then delivers what is pending. Returns
    // whether anything was delivered. Main thread only.
    bool WaitAndProcessMessages(std::chrono::milliseconds Timeout);

    // Shows the current exception (call inside a catch block): through OnException when
    // set, otherwise its message on stderr prefixed by Title. EAbort is silent.
    void HandleException();
    void HandleException(std::exception_ptr E);
    std::function<void(const std::exception& E)> OnException;

    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& Title) { title_ = Title; }

    bool IsMainThread() const;

    // Called from any thread whenever something is queued for the main thread, so a foreign
    // event loop can schedule a ProcessMessages call. Set it from the main thread.
    void SetWakeHook(std::function<void()> Hook);

private:
    friend TApplication& Application();
    TApplication();
    std::string title_;
};

// The application object; the first call fixes the main thread.
TApplication& Application();

// Runs Method on the main thread and waits for it. On the main thread it runs directly. An
// exception raised by Method is raised again in the caller. While the main thread waits for a
// thread (TThread::WaitFor) it keeps serving these requests.
void Synchronize(const std::function<void()>& Method);

}  // namespace quelvan::platform
