// The libmodbus side of clients.h. libmodbus is RTU only here and detects the end of a reply
// by its length (it knows from the function code how many bytes follow), not by a silent gap.

#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "clients.h"

#ifdef QUELVAN_BENCH_LIBMODBUS
#include <modbus.h>
#endif

namespace quelvan::bench {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

#ifdef QUELVAN_BENCH_LIBMODBUS

bool HaveLibmodbus() { return true; }

struct TLibmodbusClientBench::Impl {
    modbus_t* Ctx = nullptr;
    uint16_t Regs[125] = {};
    uint16_t Values[123] = {};

    bool RunOne(TWorkload W) {
        switch (W) {
        case TWorkload::Read1: return modbus_read_registers(Ctx, 0, 1, Regs) == 1;
        case TWorkload::Read125: return modbus_read_registers(Ctx, 0, 125, Regs) == 125;
        case TWorkload::Write123: return modbus_write_registers(Ctx, 0, 123, Values) == 123;
        }
        return false;
    }
};

TLibmodbusClientBench::TLibmodbusClientBench(const std::string& Port, const TLine& Line)
    : impl_(std::make_unique<Impl>()) {
    for (int i = 0; i < 123; ++i) impl_->Values[i] = static_cast<uint16_t>(i * 5 + 2);
    impl_->Ctx = modbus_new_rtu(Port.c_str(), static_cast<int>(Line.NominalBaud()), 'E', 8, 1);
    if (!impl_->Ctx) throw std::runtime_error("modbus_new_rtu failed for " + Port);
    modbus_set_slave(impl_->Ctx, 1);
    modbus_set_response_timeout(impl_->Ctx, 3, 0);
    if (modbus_connect(impl_->Ctx) != 0) {
        modbus_free(impl_->Ctx);
        throw std::runtime_error("libmodbus cannot open " + Port);
    }
}

TLibmodbusClientBench::~TLibmodbusClientBench() {
    modbus_close(impl_->Ctx);
    modbus_free(impl_->Ctx);
}

bool TLibmodbusClientBench::WarmUp(TWorkload W, int Count) {
    bool any = false;
    for (int i = 0; i < Count; ++i)
        if (impl_->RunOne(W)) any = true;
    return any;
}

TLatencyRun TLibmodbusClientBench::Latency(TWorkload W, const TBudget& Budget) {
    TLatencyRun run;
    const Clock::time_point start = Clock::now();
    while (Budget.WantsMore(run.SamplesMs.size(), start)) {
        const Clock::time_point t0 = Clock::now();
        const bool ok = impl_->RunOne(W);
        run.SamplesMs.push_back(MsBetween(t0, Clock::now()));
        if (!ok) {
            ++run.Failures;
            std::fprintf(stderr, "  libmodbus %s: %s\n", WorkloadName(W), modbus_strerror(errno));
        }
    }
    return run;
}

#else

bool HaveLibmodbus() { return false; }
struct TLibmodbusClientBench::Impl {};
TLibmodbusClientBench::TLibmodbusClientBench(const std::string&, const TLine&) {
    throw std::runtime_error("built without libmodbus");
}
TLibmodbusClientBench::~TLibmodbusClientBench() = default;
bool TLibmodbusClientBench::WarmUp(TWorkload, int) { return false; }
TLatencyRun TLibmodbusClientBench::Latency(TWorkload, const TBudget&) { return {}; }

#endif

}  // namespace quelvan::bench
