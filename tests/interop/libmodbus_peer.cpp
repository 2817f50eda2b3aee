#include "interop/libmodbus_peer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>

#include "platform/application.h"
#include "support/pump.h"

namespace quelvan::interop {

modbus_t* ConnectLibmodbus(const std::string& Port, const TLineCase& Line, int Slave) {
    modbus_t* ctx = modbus_new_rtu(Port.c_str(), static_cast<int>(Line.Baud), Line.Parity, Line.DataBits,
                                   Line.StopBits);
    if (!ctx) throw std::runtime_error("modbus_new_rtu: " + std::string(modbus_strerror(errno)));
    if (modbus_set_slave(ctx, Slave) != 0 || modbus_connect(ctx) != 0) {
        const std::string text = modbus_strerror(errno);
        modbus_free(ctx);
        throw std::runtime_error("libmodbus on " + Port + ": " + text);
    }
    // Generous: these machines are loaded. A paced line at 9600 needs ~0.3 s for the longest frame.
    modbus_set_response_timeout(ctx, 5, 0);
    modbus_set_byte_timeout(ctx, 1, 0);
    return ctx;
}

// Server -------------------------------------------------------------------------------------

TLibmodbusServer::TLibmodbusServer(const std::string& Port, const TLineCase& Line, int Slave,
                                   uint32_t ResponseTimeoutMs)
    : ctx_(ConnectLibmodbus(Port, Line, Slave)) {
    using M = TItemLayout;
    mapping_ = modbus_mapping_new_start_address(M::CoilStart, M::CoilCount, M::InputStart, M::InputCount,
                                                M::HoldingStart, M::HoldingCount, M::InputRegStart,
                                                M::InputRegCount);
    if (!mapping_) {
        modbus_close(ctx_);
        modbus_free(ctx_);
        throw std::runtime_error("modbus_mapping_new_start_address failed");
    }
    // The indication time-out bounds each wait for a request, so the thread sees a stop soon.
    modbus_set_indication_timeout(ctx_, 0, 100000);
    modbus_set_response_timeout(ctx_, ResponseTimeoutMs / 1000, ResponseTimeoutMs % 1000 * 1000);
    // A frame libmodbus could not delimit leaves its tail on the line: flush it.
    modbus_set_error_recovery(ctx_, MODBUS_ERROR_RECOVERY_PROTOCOL);
    thread_ = std::thread([this] { Serve(); });
}

TLibmodbusServer::~TLibmodbusServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    thread_.join();
    modbus_mapping_free(mapping_);
    modbus_close(ctx_);
    modbus_free(ctx_);
}

void TLibmodbusServer::SetDiscreteInput(uint16_t Address, bool Value) {
    std::lock_guard<std::mutex> lock(mutex_);
    mapping_->tab_input_bits[Address - mapping_->start_input_bits] = Value ? 1 : 0;
}

void TLibmodbusServer::SetInputRegister(uint16_t Address, uint16_t Value) {
    std::lock_guard<std::mutex> lock(mutex_);
    mapping_->tab_input_registers[Address - mapping_->start_input_registers] = Value;
}

void TLibmodbusServer::SetHoldingRegister(uint16_t Address, uint16_t Value) {
    std::lock_guard<std::mutex> lock(mutex_);
    mapping_->tab_registers[Address - mapping_->start_registers] = Value;
}

bool TLibmodbusServer::Coil(uint16_t Address) {
    std::lock_guard<std::mutex> lock(mutex_);
    return mapping_->tab_bits[Address - mapping_->start_bits] != 0;
}

uint16_t TLibmodbusServer::HoldingRegister(uint16_t Address) {
    std::lock_guard<std::mutex> lock(mutex_);
    return mapping_->tab_registers[Address - mapping_->start_registers];
}

int TLibmodbusServer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void TLibmodbusServer::Serve() {
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) return;
        }
        // > 0: a request for this server or a broadcast; 0: a frame for another address;
        // -1: the indication time-out, a bad CRC or a frame libmodbus could not delimit.
        const int rc = modbus_receive(ctx_, query);
        if (rc <= 0) continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++requests_;
            modbus_reply(ctx_, query, rc, mapping_);
        }
        platform::Application().Wake();
    }
}

// Client -------------------------------------------------------------------------------------

TLibmodbusClient::TLibmodbusClient(const std::string& Port, const TLineCase& Line, int Slave)
    : ctx_(ConnectLibmodbus(Port, Line, Slave)) {}

TLibmodbusClient::~TLibmodbusClient() {
    modbus_close(ctx_);
    modbus_free(ctx_);
}

TLibmodbusClient::TResult TLibmodbusClient::Run(const std::function<int(modbus_t*)>& Call) {
    TResult result{-1, 0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        errno = 0;
        result.Rc = Call(ctx_);
        result.Errno = errno;
        done = true;
        platform::Application().Wake();
    });
    const bool finished = test::PumpUntil([&] { return done.load(); }, 60000);
    worker.join();
    EXPECT_TRUE(finished) << "the libmodbus call did not return";
    return result;
}

std::vector<uint8_t> TLibmodbusClient::RawExchange(const std::vector<uint8_t>& Request) {
    std::vector<uint8_t> reply(MODBUS_RTU_MAX_ADU_LENGTH);
    const TResult r = Run([&](modbus_t* ctx) {
        if (modbus_send_raw_request(ctx, Request.data(), static_cast<int>(Request.size())) < 0) return -1;
        return modbus_receive_confirmation(ctx, reply.data());
    });
    if (r.Rc < 3) return {};
    reply.resize(static_cast<size_t>(r.Rc) - 2);  // without the CRC, which libmodbus checked
    return reply;
}

}  // namespace quelvan::interop
