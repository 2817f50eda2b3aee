// The Quelvan side of clients.h.

#include <cstdio>
#include <functional>

#include "clients.h"
#include "quelvan/quelvan.h"
#include "roles.h"

namespace quelvan::bench {

namespace {

using Clock = std::chrono::steady_clock;


// A transaction without a normal reply, on stderr: which outcome, so that a failure can be
// told from a slow line.
void ReportFailure(const char* Phase, TWorkload W, const TTransactionInfo& Info) {
    static const char* const kinds[] = {"no reply", "unmatched reply", "exception reply", "normal reply"};
    std::fprintf(stderr, "  %s %s: transaction %u ended with %s (exception code %u)\n", Phase, WorkloadName(W),
                 Info.ID, kinds[Info.Reply & 3], Info.RawExceptionCode);
}

// No transaction may take longer than this, whatever the line: a lost one is a failure.
constexpr auto kTransactionLimit = std::chrono::seconds(10);

}  // namespace

struct TQuelvanClientBench::Impl {
    TModbusConnection Connection;
    TModbusClient Client;
    TRegValues Values = TRegValues(123);
    // Set for each transaction's outcome: its kind and when the event fired.
    std::function<void(const TTransactionInfo&)> OnOutcome;

    uint32_t Issue(TWorkload W) {
        switch (W) {
        case TWorkload::Read1: return Client.ReadHoldingRegisters(0, 1);
        case TWorkload::Read125: return Client.ReadHoldingRegisters(0, 125);
        case TWorkload::Write123: return Client.WriteMultipleRegisters(0, Values);
        }
        return 0;
    }

    // One transaction, waited for; its latency, or a negative value when it was lost. A
    // failure is reported under Phase unless it is null.
    double RunOne(TWorkload W, bool& Normal, const char* Phase) {
        struct {
            bool Done = false;
            Clock::time_point End{};
            bool& Normal;
            const char* Phase;
            TWorkload W;
        } run{false, {}, Normal, Phase, W};
        // One pointer captured: small enough that the handler itself allocates nothing, so
        // the allocation count per transaction is the library's.
        OnOutcome = [r = &run](const TTransactionInfo& Info) {
            r->End = Clock::now();
            r->Normal = Info.Reply == rkNormalReply;
            if (!r->Normal && r->Phase) ReportFailure(r->Phase, r->W, Info);
            r->Done = true;
        };
        const Clock::time_point start = Clock::now();
        Issue(W);
        const bool got = platform::Application().ProcessMessagesUntil([&] { return run.Done; }, kTransactionLimit);
        OnOutcome = nullptr;
        return got ? MsBetween(start, run.End) : -1.0;
    }
};

TQuelvanClientBench::TQuelvanClientBench(const std::string& Port, const TLine& Line) : impl_(std::make_unique<Impl>()) {
    Impl& s = *impl_;
    for (size_t i = 0; i < s.Values.size(); ++i) s.Values[i] = static_cast<uint16_t>(i * 3 + 1);
    s.Connection.SetPort(Port);
    ConfigureConnection(s.Connection, Line);
    s.Connection.SetReceiveTimeout(3000);
    s.Connection.SetMaxRetries(1);
    s.Client.SetServerAddress(1);
    s.Client.SetConnection(&s.Connection);
    auto outcome = [&s](const TTransactionInfo& Info) {
        if (s.OnOutcome) s.OnOutcome(Info);
    };
    s.Client.OnHoldingRegistersRead = [outcome](TModbusClient&, const TTransactionInfo& Info, uint16_t, uint16_t,
                                                const TRegValues&) { outcome(Info); };
    s.Client.OnMultipleRegistersWrite = [outcome](TModbusClient&, const TTransactionInfo& Info, uint16_t, uint16_t,
                                                  const TRegValues&) { outcome(Info); };
    s.Connection.Open();
}

TQuelvanClientBench::~TQuelvanClientBench() { impl_->Connection.Close(); }

uint32_t TQuelvanClientBench::SilentIntervalMs() const { return impl_->Connection.SilentIntervalMs(); }

bool TQuelvanClientBench::Ping() {
    impl_->Connection.SetReceiveTimeout(200);
    bool normal = false;
    for (int i = 0; i < 50 && !normal;) {
        if (impl_->RunOne(TWorkload::Read1, normal, nullptr) < 0) break;
        ++i;
    }
    impl_->Connection.SetReceiveTimeout(3000);
    return normal;
}

bool TQuelvanClientBench::WarmUp(TWorkload W, int Count) {
    bool any = false;
    for (int i = 0; i < Count; ++i) {
        bool normal = false;
        if (impl_->RunOne(W, normal, "warm-up") >= 0 && normal) any = true;
    }
    return any;
}

TLatencyRun TQuelvanClientBench::Latency(TWorkload W, const TBudget& Budget) {
    TLatencyRun run;
    const Clock::time_point start = Clock::now();
    while (Budget.WantsMore(run.SamplesMs.size(), start)) {
        bool normal = false;
        const double ms = impl_->RunOne(W, normal, "latency");
        if (ms < 0) {
            ++run.Failures;
            break;
        }
        if (!normal) ++run.Failures;
        run.SamplesMs.push_back(ms);
    }
    return run;
}

double TQuelvanClientBench::Throughput(TWorkload W, const TBudget& Budget, int Outstanding, int& Failures) {
    Impl& s = *impl_;
    size_t issued = 0, seen = 0, counted = 0;
    bool stopped = false;
    Failures = 0;
    Clock::time_point last{};
    const Clock::time_point start = Clock::now();
    s.OnOutcome = [&](const TTransactionInfo& Info) {
        ++seen;
        if (Info.Reply != rkNormalReply) {
            ++Failures;
            ReportFailure("throughput", W, Info);
        }
        if (stopped) return;
        ++counted;
        last = Clock::now();
        stopped = !Budget.WantsMore(counted, start);
        if (stopped) return;
        s.Issue(W);
        ++issued;
    };
    for (int i = 0; i < Outstanding; ++i, ++issued) s.Issue(W);
    // Also drains what is still queued when the count is reached.
    const bool ok = platform::Application().ProcessMessagesUntil(
        [&] { return stopped && seen == issued; }, kTransactionLimit * static_cast<int>(Budget.MaxSamples));
    s.OnOutcome = nullptr;
    if (!ok || counted == 0) return 0;
    return static_cast<double>(counted) / (MsBetween(start, last) / 1e3);
}

}  // namespace quelvan::bench
