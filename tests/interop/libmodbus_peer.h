#pragma once
// libmodbus as an independent RTU peer: a server on its own thread answering from a libmodbus
// mapping, and a client whose blocking calls run on a worker thread while the main thread
// keeps delivering messages (our server answers on the main thread).

#include <modbus.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "interop/line_case.h"

namespace quelvan::interop {

// libmodbus's context for Port with the line settings, connected; raises std::runtime_error with
// libmodbus's text when it cannot be set up. Response and byte time-outs are generous.
modbus_t* ConnectLibmodbus(const std::string& Port, const TLineCase& Line, int Slave);

// Where the server's items are: coils 0-2099, discrete inputs 1000-2999, holding registers
// 0-199, input registers 500-629. Items outside are refused with exception 02.
struct TLibmodbusMap {
    static constexpr int CoilStart = 0, CoilCount = 2100;
    static constexpr int InputStart = 1000, InputCount = 2000;
    static constexpr int HoldingStart = 0, HoldingCount = 200;
    static constexpr int InputRegStart = 500, InputRegCount = 130;
};

class TLibmodbusServer {
public:
    // Connects and starts serving at once: what arrives before the thread runs waits in the
    // port's input queue. ResponseTimeoutMs is libmodbus's response time-out, which a server
    // uses twice: it sleeps that long (and flushes the line) before an exception reply for a
    // bad count, and after a request for another address it waits up to that long for that
    // server's reply, taking whatever frame comes first for it.
    TLibmodbusServer(const std::string& Port, const TLineCase& Line, int Slave = 1, uint32_t ResponseTimeoutMs = 50);
    ~TLibmodbusServer();  // stops the thread (within the indication time-out) and disconnects
    TLibmodbusServer(const TLibmodbusServer&) = delete;
    TLibmodbusServer& operator=(const TLibmodbusServer&) = delete;

    // Runs Fn on the mapping while no request is being answered. The server thread calls
    // platform::Application().Wake() after every request, so a pump predicate that reads the
    // mapping through here is checked again.
    template <typename F>
    auto WithMapping(F Fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        return Fn(*mapping_);
    }
    // Requests received whole with a good CRC, addressed to the server or broadcast.
    int Requests();

private:
    void Serve();

    modbus_t* ctx_;
    modbus_mapping_t* mapping_;
    std::mutex mutex_;
    int requests_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

class TLibmodbusClient {
public:
    TLibmodbusClient(const std::string& Port, const TLineCase& Line, int Slave = 1);
    ~TLibmodbusClient();
    TLibmodbusClient(const TLibmodbusClient&) = delete;
    TLibmodbusClient& operator=(const TLibmodbusClient&) = delete;

    struct TResult {
        int Rc;     // what the call returned
        int Errno;  // errno right after it (EMBXILFUN etc. for exception replies)
    };
    // Runs Call on a worker thread and delivers main-thread messages until it returns.
    TResult Run(const std::function<int(modbus_t*)>& Call);
    // Sends Request (address byte and PDU, no CRC) and returns the reply's address byte and PDU,
    // or an empty vector when none came.
    std::vector<uint8_t> RawExchange(const std::vector<uint8_t>& Request);
    modbus_t* Context() { return ctx_; }

private:
    modbus_t* ctx_;
};

}  // namespace quelvan::interop
