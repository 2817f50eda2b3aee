#include "sections.h"

#include <chrono>
#include <vector>

#include "platform/posix_serial_device.h"
#include "platform/sync.h"
#include "quelvan/quelvan.h"
#include "roles.h"

namespace quelvan::bench {

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point T) { return std::chrono::duration<double, std::milli>(Clock::now() - T).count(); }

void PumpFor(std::chrono::milliseconds Time) {
    platform::Application().ProcessMessagesUntil([] { return false; }, Time);
}

}  // namespace

TLineCalibration CalibrateLine(const std::string& From, const std::string& To, uint32_t Baud, int Bytes,
                               double MaxSeconds) {
    platform::TLineSettings settings;
    settings.BaudRate = Baud == 0 ? 115200 : Baud;
    platform::TPosixSerialDevice a, b;
    a.Open(From);
    b.Open(To);
    a.Configure(settings);
    b.Configure(settings);
    std::vector<uint8_t> out(static_cast<size_t>(Bytes)), in(static_cast<size_t>(Bytes) + 64);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i);
    std::vector<double> samples;
    const Clock::time_point begin = Clock::now();
    while (samples.size() < 200 && (samples.size() < 5 || MsSince(begin) < MaxSeconds * 1e3)) {
        b.Purge(true, false);
        const Clock::time_point t0 = Clock::now();
        if (a.Write(out.data(), out.size(), 5000) != platform::TWriteResult::Complete) break;
        int got = 0;
        while (got < Bytes && b.WaitForData(5000, nullptr) == platform::TWaitResult::Data) {
            const int n = b.Read(in.data() + got, in.size() - static_cast<size_t>(got));
            if (n < 0) break;
            got += n;
        }
        if (got < Bytes) break;
        samples.push_back(MsSince(t0));
    }
    const TLine line{tmRTU, Baud};
    return {Baud, Bytes, line.WireMs(Bytes), Summarize(samples)};
}

TIdleCost MeasureIdle(const std::string& Port, bool ServerMode, double Seconds) {
    TModbusConnection connection;
    connection.SetPort(Port);
    ConfigureConnection(connection, TLine{tmRTU, 19200});
    TModbusServer server;
    TModbusClient client;
    if (ServerMode) {
        connection.SetConnectionMode(cmServer);
        server.SetConnection(&connection);
    } else {
        client.SetConnection(&connection);
    }
    connection.Open();
    // The thread purges and waits for a quiet line once after opening; that is not idling.
    PumpFor(std::chrono::milliseconds(300));
    const TCpuTimes before = ProcessCpuTimes();
    const Clock::time_point t0 = Clock::now();
    PumpFor(std::chrono::milliseconds(static_cast<int64_t>(Seconds * 1e3)));
    const TCpuTimes used = ProcessCpuTimes() - before;
    const double seconds = MsSince(t0) / 1e3;
    connection.Close();
    return {ServerMode ? "server" : "client", seconds, used};
}

TQueueMemory MeasureQueueMemory(const std::string& Port, int Count) {
    TQueueMemory m{};
    m.Count = Count;
    {
        TModbusConnection connection;
        connection.SetPort(Port);
        ConfigureConnection(connection, TLine{tmRTU, 19200});
        // Nobody answers and the wait for a reply has no end: the first transaction stays in
        // progress and every later one stays queued until it is discarded.
        connection.SetReceiveTimeout(platform::INFINITE_WAIT);
        TModbusClient client;
        client.SetConnection(&connection);
        connection.Open();
        PumpFor(std::chrono::milliseconds(300));
        TrimHeap();
        m.Base = ResidentBytes();
        const Clock::time_point t0 = Clock::now();
        for (int i = 0; i < Count; ++i) client.ReadHoldingRegisters(0, 125);
        m.QueueUsPerCall = MsSince(t0) * 1e3 / Count;
        m.Pending = connection.GetPendingTransactionCount();
        TrimHeap();
        m.Queued = ResidentBytes();
        const Clock::time_point t1 = Clock::now();
        connection.DiscardPendingTransactions();
        m.DiscardMs = MsSince(t1);
        m.Discarded = ResidentBytes();
        TrimHeap();
        m.DiscardedTrimmed = ResidentBytes();
        connection.Close();
    }
    TrimHeap();
    m.Closed = ResidentBytes();
    return m;
}

}  // namespace quelvan::bench
