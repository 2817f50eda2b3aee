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
#include "interop/peer_server.h"

namespace quelvan::interop {

// libmodbus's context for Port with the line settings, connected; raises std::runtime_error with
// libmodbus's text when it cannot be set up. Response and byte time-outs are generous.
modbus_t* ConnectLibmodbus(const std::string& Port, const TLineCase& Line, int Slave);

// libmodbus's server with the common item layout, on its own thread.
class TLibmodbusServer final : public IPeerServer {
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

    // The tables, between requests. The server thread calls platform::Application().Wake()
    // after every request, so a pump predicate that reads them through here is checked again.
    void SetDiscreteInput(uint16_t Address, bool Value) override;
    void SetInputRegister(uint16_t Address, uint16_t Value) override;
    void SetHoldingRegister(uint16_t Address, uint16_t Value) override;
    bool Coil(uint16_t Address) override;
    uint16_t HoldingRegister(uint16_t Address) override;
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
