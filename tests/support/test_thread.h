#pragma once
// A TThread whose Execute is a function given at construction, for tests. Its destructor
// terminates and waits, as a derived thread must.

#include <functional>
#include <utility>

#include "platform/thread.h"

namespace quelvan::test {

class TFunctionThread : public platform::TThread {
public:
    explicit TFunctionThread(std::function<void(TFunctionThread& Self)> Body)
        : body_(std::move(Body)) {}
    ~TFunctionThread() override {
        Terminate();
        WaitFor();
    }

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(TFunctionThread& Self)> body_;
};

}  // namespace quelvan::test
