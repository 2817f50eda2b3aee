// Sends one Modbus RTU request frame across a virtual null-modem cable: both ends are
// opened as ordinary serial ports at 19200 baud 8E1, the relay paces the bytes as a real
// line would, and what was sent and received is printed in hex. Exit code 0 when the
// frame arrived intact within five seconds.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/posix_serial_device.h"
#include "platform/sync.h"
#include "platform/virtual_null_modem.h"

using namespace quelvan::platform;

namespace {

std::string Hex(const std::vector<uint8_t>& Bytes) {
    std::string s;
    char buf[4];
    for (uint8_t b : Bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        s += buf;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

}  // namespace

int main() {
    try {
        TVirtualNullModem cable;
        TLineSettings line;  // 19200 8E1, no handshake
        TRelayControls paced;
        paced.BaudRate = line.BaudRate;
        paced.BitsPerChar = 11;  // start + 8 data + parity + stop
        cable.SetControls(TNullModemSide::A, paced);

        TPosixSerialDevice a, b;
        a.Open(cable.PortA());
        b.Open(cable.PortB());
        a.Configure(line);
        b.Configure(line);
        std::printf("Port A: %s\nPort B: %s\n", a.DevicePath().c_str(), b.DevicePath().c_str());

        // Read Holding Registers: server 1, start 0, count 10, CRC C5 CD.
        const std::vector<uint8_t> frame = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
        if (a.Write(frame.data(), frame.size(), 1000) != TWriteResult::Complete) {
            std::fprintf(stderr, "Write failed: %s\n", a.LastErrorText().c_str());
            return 1;
        }
        std::printf("TX A->B: %s\n", Hex(frame).c_str());

        std::vector<uint8_t> received;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (received.size() < frame.size() && std::chrono::steady_clock::now() < deadline) {
            const TWaitResult r = b.WaitForData(100, nullptr);
            if (r == TWaitResult::Failed) {
                std::fprintf(stderr, "Receive failed: %s\n", b.LastErrorText().c_str());
                return 1;
            }
            if (r != TWaitResult::Data) continue;
            uint8_t buf[256];
            const int n = b.Read(buf, sizeof buf);
            if (n < 0) {
                std::fprintf(stderr, "Read failed: %s\n", b.LastErrorText().c_str());
                return 1;
            }
            received.insert(received.end(), buf, buf + n);
        }
        std::printf("RX at B: %s\n", Hex(received).c_str());
        if (received != frame) {
            std::fprintf(stderr, "The frame did not arrive intact\n");
            return 1;
        }
        std::printf("OK: %zu bytes crossed the virtual line\n", received.size());
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "Error: %s\n", e.Message().c_str());
        return 2;
    }
}
