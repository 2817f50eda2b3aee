// quelvan_line_bench: Modbus transactions between a Quelvan client (or libmodbus) and a Quelvan
// server over a virtual null-modem paced at real baud rates, against the physical minimum;
// CPU per transaction; CPU of idle connections; memory of a long queue.
//
// Three processes: this one (the client and the measurements), a line process (the
// null-modem relay) and a server process, so that each one's CPU time is its own.
// Markdown tables go to stdout, progress to stderr. --help lists the options.

#include <algorithm>
#include <map>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "clients.h"
#include "heap_count.h"
#include "os_process.h"
#include "roles.h"
#include "sections.h"

namespace quelvan::bench {
namespace {

struct TOptions {
    std::vector<std::string> Sections{"line", "latency", "idle", "memory"};
    std::vector<TTransmissionMode> Modes{tmRTU, tmASCII};
    std::vector<uint32_t> Bauds{9600, 19200, 115200, 0};
    std::vector<TWorkload> Workloads{TWorkload::Read1, TWorkload::Read125, TWorkload::Write123};
    bool Libmodbus = true;
    double Scale = 1.0;
    double IdleSeconds = 10;
    int QueueCount = 100000;
    int Outstanding = 2;
    size_t Samples = 0;  // fixed sample count (0: by time budget)
    bool Throughput = true;
};

const char* kUsage =
    "usage: quelvan_line_bench [options]\n"
    "  --sections LIST   line,latency,idle,memory (default: all)\n"
    "  --modes LIST      rtu,ascii (default: both)\n"
    "  --bauds LIST      9600,19200,115200,0 (0: unpaced line; default: all four)\n"
    "  --workloads LIST  read1,read125,write123 (default: all)\n"
    "  --no-libmodbus    skip the libmodbus client\n"
    "  --scale F         multiply every time budget by F (default 1)\n"
    "  --idle-seconds S  length of each idle measurement (default 10)\n"
    "  --queue N         transactions queued for the memory figure (default 100000)\n"
    "  --outstanding N   transactions kept queued for throughput (default 2)\n"
    "  --samples N       exactly N transactions per latency figure, whatever the time\n"
    "  --no-throughput   skip the throughput figure (with --samples: a fixed transaction count\n"
    "                    per cell, for profiling)\n";

std::vector<std::string> Split(const std::string& Text) {
    std::vector<std::string> out;
    std::stringstream in(Text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) out.push_back(item);
    return out;
}

TOptions Parse(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--sections") {
            o.Sections = Split(value());
        } else if (a == "--modes") {
            o.Modes.clear();
            for (const std::string& m : Split(value())) {
                if (m != "rtu" && m != "ascii") throw std::runtime_error("unknown mode " + m);
                o.Modes.push_back(m == "rtu" ? tmRTU : tmASCII);
            }
        } else if (a == "--bauds") {
            o.Bauds.clear();
            for (const std::string& b : Split(value())) o.Bauds.push_back(static_cast<uint32_t>(std::stoul(b)));
        } else if (a == "--workloads") {
            o.Workloads.clear();
            for (const std::string& w : Split(value())) {
                if (w == "read1") o.Workloads.push_back(TWorkload::Read1);
                else if (w == "read125") o.Workloads.push_back(TWorkload::Read125);
                else if (w == "write123") o.Workloads.push_back(TWorkload::Write123);
                else throw std::runtime_error("unknown workload " + w);
            }
        } else if (a == "--no-libmodbus") {
            o.Libmodbus = false;
        } else if (a == "--scale") {
            o.Scale = std::stod(value());
        } else if (a == "--idle-seconds") {
            o.IdleSeconds = std::stod(value());
        } else if (a == "--queue") {
            o.QueueCount = std::stoi(value());
        } else if (a == "--outstanding") {
            o.Outstanding = std::stoi(value());
        } else if (a == "--samples") {
            o.Samples = static_cast<size_t>(std::stoul(value()));
        } else if (a == "--no-throughput") {
            o.Throughput = false;
        } else {
            throw std::runtime_error("unknown option " + a + "\n" + kUsage);
        }
    }
    return o;
}

bool Has(const TOptions& O, const char* Section) {
    for (const std::string& s : O.Sections)
        if (s == Section) return true;
    return false;
}

std::string Fmt(const char* Format, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* Format, ...) {
    char buf[512];
    va_list args;
    va_start(args, Format);
    std::vsnprintf(buf, sizeof buf, Format, args);
    va_end(args);
    return buf;
}

void Progress(const std::string& Text) {
    std::fprintf(stderr, "%s\n", Text.c_str());
    std::fflush(stderr);
}

// The server process's CPU time and heap allocations so far.
struct TServerUsage {
    double CpuMs = 0;
    double Allocations = 0;
};
TServerUsage ServerUsage(TChildProcess& Server) {
    std::istringstream in(Server.Call("cpu"));
    TServerUsage u;
    long voluntary = 0, involuntary = 0;
    in >> u.CpuMs >> voluntary >> involuntary >> u.Allocations;
    return u;
}

// One latency figure of either client, with the CPU both processes spent on it.
struct TMeasured {
    TSummary Latency;
    int Failures = 0;
    double ClientCpuUs = 0, ServerCpuUs = 0;  // per transaction
    double ClientSwitches = 0;                // voluntary context switches per transaction
    double ClientAllocations = 0, ServerAllocations = 0;  // operator new calls per transaction
};

template <typename TClient>
TMeasured Measure(TChildProcess& Server, TClient& Client, TWorkload W, const TBudget& Budget) {
    Client.WarmUp(W, 2);
    const TCpuTimes cpu0 = ProcessCpuTimes();
    const uint64_t allocations0 = HeapAllocations();
    const TServerUsage server0 = ServerUsage(Server);
    const TLatencyRun run = Client.Latency(W, Budget);
    const TServerUsage server1 = ServerUsage(Server);
    const uint64_t allocations = HeapAllocations() - allocations0;
    const TCpuTimes cpu = ProcessCpuTimes() - cpu0;
    const double n = static_cast<double>(std::max<size_t>(run.SamplesMs.size(), 1));
    TMeasured m;
    m.Latency = Summarize(run.SamplesMs);
    m.Failures = run.Failures;
    m.ClientCpuUs = cpu.TotalMs() * 1e3 / n;
    m.ServerCpuUs = (server1.CpuMs - server0.CpuMs) * 1e3 / n;
    m.ClientAllocations = static_cast<double>(allocations) / n;
    m.ServerAllocations = (server1.Allocations - server0.Allocations) / n;
    m.ClientSwitches = static_cast<double>(cpu.VoluntarySwitches) / n;
    return m;
}

// One workload on one line, for both clients.
struct TCell {
    TLine Line{tmRTU, 0};
    TWorkload Work = TWorkload::Read1;
    double GapsMs = 0;     // silent intervals a Quelvan transaction must wait
    double MinimumMs = 0;  // physical minimum for a Quelvan client
    TMeasured Quelvan;
    double ThroughputTps = 0;
    int ThroughputFailures = 0;
    bool HaveLib = false;
    double LibMinimumMs = 0;  // libmodbus waits for no gap of its own
    TMeasured Lib;
};

TCell RunCell(TChildProcess& Server, const std::string& Port, const TLine& Line, TWorkload W, const TOptions& O) {
    TCell c;
    c.Line = Line;
    c.Work = W;
    TBudget latency{5, 200, 3.5 * O.Scale};
    TBudget throughput{3, 200, 1.0 * O.Scale};
    if (O.Samples > 0) latency = throughput = TBudget{O.Samples, O.Samples, 1e9};
    {
        TQuelvanClientBench q(Port, Line);
        if (!q.Ping()) throw std::runtime_error("the server does not answer on " + Line.Label());
        c.GapsMs = Line.Mode == tmRTU ? 2.0 * q.SilentIntervalMs() : 0.0;
        c.MinimumMs = MinimumMs(Line, W, c.GapsMs);
        c.Quelvan = Measure(Server, q, W, latency);
        if (O.Throughput) c.ThroughputTps = q.Throughput(W, throughput, O.Outstanding, c.ThroughputFailures);
    }
    if (O.Libmodbus && HaveLibmodbus() && Line.Mode == tmRTU) {
        TLibmodbusClientBench m(Port, Line);
        c.HaveLib = true;
        c.LibMinimumMs = MinimumMs(Line, W, c.GapsMs / 2);
        c.Lib = Measure(Server, m, W, latency);
    }
    return c;
}

std::string FramesText(const TCell& C) {
    const TFrameSizes s = FrameSizes(C.Work, C.Line.Mode);
    return Fmt("%d+%d", s.Request, s.Reply);
}

// How late the simulated line itself delivers a frame (median, ms), by baud and frame size,
// from the calibration; both frames of a transaction carry it in their overhead.
class TLineLateness {
public:
    void Add(const TLineCalibration& C) {
        (C.Bytes < kLargeFrame ? small_ : large_)[C.Baud] = C.MeasuredMs.Median - C.NominalMs;
    }
    // The lateness of both frames of a cell, or a negative value when the line was not
    // calibrated at that baud.
    double ForCell(const TCell& C) const {
        const TFrameSizes s = FrameSizes(C.Work, C.Line.Mode);
        const double request = Frame(C.Line.Baud, s.Request), reply = Frame(C.Line.Baud, s.Reply);
        return request < 0 || reply < 0 ? -1.0 : request + reply;
    }

private:
    static constexpr int kLargeFrame = 100;  // the calibration sends 8 and 255 bytes
    double Frame(uint32_t Baud, int Chars) const {
        const auto& table = Chars < kLargeFrame ? small_ : large_;
        const auto it = table.find(Baud);
        return it == table.end() ? -1.0 : it->second;
    }
    std::map<uint32_t, double> small_, large_;
};

void PrintLatency(const std::vector<TCell>& Cells, const TLineLateness& Lateness) {
    std::printf("\n### Transactions: Quelvan client and server against the physical minimum\n\n");
    std::printf("Overhead is the median beyond the minimum; the simulated line's own lateness (from the "
                "calibration above, both frames) is part of it, and what is left is Quelvan's side.\n\n");
    std::printf("| line | workload | chars req+rep | minimum ms | median ms | p99 ms | overhead ms | "
                "line lateness ms | Quelvan's side ms | n | throughput tx/s | failures |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const TCell& c : Cells) {
        const double overhead = c.Quelvan.Latency.Median - c.MinimumMs;
        const double line = Lateness.ForCell(c);
        const std::string lineText = line < 0 ? "-" : Fmt("%.3f", line);
        const std::string ours = line < 0 ? "-" : Fmt("%.3f", overhead - line);
        std::printf("| %s | %s | %s | %.2f | %.2f | %.2f | %.3f | %s | %s | %zu | %.1f | %d |\n",
                    c.Line.Label().c_str(), WorkloadName(c.Work), FramesText(c).c_str(), c.MinimumMs,
                    c.Quelvan.Latency.Median, c.Quelvan.Latency.P99, overhead, lineText.c_str(), ours.c_str(),
                    c.Quelvan.Latency.Count, c.ThroughputTps, c.Quelvan.Failures + c.ThroughputFailures);
    }
}

void PrintCpu(const std::vector<TCell>& Cells) {
    std::printf("\n### CPU time per transaction (user + system, getrusage of each process)\n\n");
    std::printf("| line | workload | Quelvan client us | Quelvan server us | client wake-ups/tx | "
                "client allocations/tx | server allocations/tx | libmodbus client us | "
                "server us (libmodbus client) |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const TCell& c : Cells) {
        const std::string lib = c.HaveLib ? Fmt("%.0f", c.Lib.ClientCpuUs) : "-";
        const std::string libServer = c.HaveLib ? Fmt("%.0f", c.Lib.ServerCpuUs) : "-";
        std::printf("| %s | %s | %.0f | %.0f | %.1f | %.1f | %.1f | %s | %s |\n", c.Line.Label().c_str(),
                    WorkloadName(c.Work), c.Quelvan.ClientCpuUs, c.Quelvan.ServerCpuUs, c.Quelvan.ClientSwitches,
                    c.Quelvan.ClientAllocations, c.Quelvan.ServerAllocations, lib.c_str(), libServer.c_str());
    }
}

void PrintLibmodbus(const std::vector<TCell>& Cells) {
    bool any = false;
    for (const TCell& c : Cells) any = any || c.HaveLib;
    if (!any) return;
    std::printf("\n### libmodbus client against the same Quelvan server, same line, same run (RTU)\n\n");
    std::printf("| line | workload | libmodbus minimum ms | libmodbus median ms | p99 ms | n | failures | "
                "Quelvan median ms | libmodbus / Quelvan (median) |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const TCell& c : Cells) {
        if (!c.HaveLib) continue;
        std::printf("| %s | %s | %.2f | %.2f | %.2f | %zu | %d | %.2f | %.3f |\n", c.Line.Label().c_str(),
                    WorkloadName(c.Work), c.LibMinimumMs, c.Lib.Latency.Median, c.Lib.Latency.P99, c.Lib.Latency.Count,
                    c.Lib.Failures, c.Quelvan.Latency.Median,
                    c.Quelvan.Latency.Median > 0 ? c.Lib.Latency.Median / c.Quelvan.Latency.Median : 0.0);
    }
}

void PrintCalibration(const std::vector<TLineCalibration>& Rows) {
    std::printf("\n### The simulated line: n bytes written on one side until the last is read on the other\n\n");
    std::printf("| baud | bytes | nominal ms | median ms | p99 ms | lateness median us | n |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const TLineCalibration& r : Rows)
        std::printf("| %s | %d | %.2f | %.3f | %.3f | %.0f | %zu |\n",
                    r.Baud == 0 ? "unpaced" : std::to_string(r.Baud).c_str(), r.Bytes, r.NominalMs,
                    r.MeasuredMs.Median, r.MeasuredMs.P99, (r.MeasuredMs.Median - r.NominalMs) * 1e3,
                    r.MeasuredMs.Count);
}

void PrintIdle(const std::vector<TIdleCost>& Rows) {
    std::printf("\n### An open, idle connection (RTU 19200), whole process, main thread waiting for messages\n\n");
    std::printf("| mode | seconds | CPU ms | voluntary switches | involuntary switches |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const TIdleCost& r : Rows)
        std::printf("| %s | %.1f | %.2f | %ld | %ld |\n", r.Role, r.Seconds, r.Cpu.TotalMs(), r.Cpu.VoluntarySwitches,
                    r.Cpu.InvoluntarySwitches);
}

void PrintMemory(const TQueueMemory& M) {
    auto mib = [](uint64_t B) { return static_cast<double>(B) / (1024.0 * 1024.0); };
    std::printf("\n### Memory: %d transactions queued on a client whose line never answers\n\n", M.Count);
    std::printf("Resident size from /proc/self/statm; malloc_trim(0) is called before each figure marked "
                "trimmed (glibc keeps freed memory otherwise).\n\n");
    std::printf("| state | resident MiB |\n|---|---|\n");
    std::printf("| open, nothing queued (trimmed) | %.1f |\n", mib(M.Base));
    std::printf("| %d queued (trimmed) | %.1f |\n", M.Pending, mib(M.Queued));
    std::printf("| after DiscardPendingTransactions, not trimmed | %.1f |\n", mib(M.Discarded));
    std::printf("| after DiscardPendingTransactions (trimmed) | %.1f |\n", mib(M.DiscardedTrimmed));
    std::printf("| after closing the connection (trimmed) | %.1f |\n", mib(M.Closed));
    std::printf("\nPer queued transaction: %.0f bytes. Queueing ReadHoldingRegisters(0, 125): %.2f us a call. "
                "Discarding all: %.1f ms.\n",
                static_cast<double>(M.Queued - M.Base) / M.Count, M.QueueUsPerCall, M.DiscardMs);
}

int Main(int argc, char** argv) {
    const TOptions o = Parse(argc, argv);
    // Children first, while this process has no other thread.
    TChildProcess line(RunLine);
    TChildProcess server(RunServer);
    std::istringstream ports(line.ReadLine());
    std::string portA, portB;
    ports >> portA >> portB;

    std::printf("## quelvan_line_bench\n");

    TLineLateness lateness;
    if (Has(o, "line")) {
        std::vector<TLineCalibration> rows;
        for (uint32_t baud : o.Bauds) {
            line.Call("pace " + std::to_string(baud) + " 11");
            for (int bytes : {8, 255}) {
                Progress(Fmt("line: %u baud, %d bytes", baud, bytes));
                rows.push_back(CalibrateLine(portA, portB, baud, bytes, 1.0 * o.Scale));
            }
        }
        PrintCalibration(rows);
        for (const TLineCalibration& r : rows) lateness.Add(r);
        Progress("timer");
        std::printf("\nA 20 ms timed wait (poll) on this machine ends %.0f us late (median of 50).\n",
                    Summarize(TimedWaitLatenessUs(20, 50)).Median);
    }

    if (Has(o, "latency")) {
        std::vector<TCell> cells;
        for (TTransmissionMode mode : o.Modes) {
            for (uint32_t baud : o.Bauds) {
                const TLine l{mode, baud};
                line.Call("pace " + std::to_string(baud) + " " + std::to_string(l.BitsPerChar()));
                const std::string answer =
                    server.Call("open " + portB + " " + (mode == tmRTU ? "rtu " : "ascii ") + std::to_string(baud));
                if (answer != "ok") throw std::runtime_error("server: " + answer);
                for (TWorkload w : o.Workloads) {
                    Progress(Fmt("latency: %s %s", l.Label().c_str(), WorkloadName(w)));
                    cells.push_back(RunCell(server, portA, l, w, o));
                }
                server.Call("close");
            }
        }
        PrintLatency(cells, lateness);
        PrintLibmodbus(cells);
        PrintCpu(cells);
    }

    if (Has(o, "idle")) {
        line.Call("pace 19200 11");
        std::vector<TIdleCost> rows;
        for (bool serverMode : {false, true}) {
            Progress(Fmt("idle: %s", serverMode ? "server" : "client"));
            rows.push_back(MeasureIdle(portA, serverMode, o.IdleSeconds));
        }
        PrintIdle(rows);
    }

    if (Has(o, "memory")) {
        Progress("memory");
        line.Call("pace 19200 11");
        PrintMemory(MeasureQueueMemory(portA, o.QueueCount));
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace
}  // namespace quelvan::bench

int main(int argc, char** argv) {
    try {
        return quelvan::bench::Main(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quelvan_line_bench: %s\n", e.what());
        return 1;
    }
}
