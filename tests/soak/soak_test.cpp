// The soak: several clients on one connection and three servers on the other end of a
// virtual null-modem whose relay misbehaves in random phases, in RTU and ASCII lanes at once.
// Checks that every transaction gets exactly one event with an outcome that fits what
// crossed the line, that IDs are consecutive, that values read back are values written,
// that nothing stays queued, and that the heap does not grow from round to round.
//
// Sized by the environment (the CTest entries set it): QUELVAN_SOAK_TRANSACTIONS (total),
// QUELVAN_SOAK_ROUNDS, QUELVAN_SOAK_RTU_LANES, QUELVAN_SOAK_ASCII_LANES,
// QUELVAN_SOAK_RTU_PERCENT (the RTU lanes' share of the transactions, default 40), and
// QUELVAN_SOAK_SEED to repeat a run's random draws (the seed is printed; the threads' timing
// still varies from run to run).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "live_allocations.h"
#include "platform/application.h"
#include "soak_lane.h"
#include "support/pump.h"

namespace quelvan::test {
namespace {

uint64_t Setting(const char* Name, uint64_t Default) {
    const char* text = std::getenv(Name);
    return text && *text ? std::strtoull(text, nullptr, 10) : Default;
}

struct TSoakSettings {
    uint64_t Transactions = Setting("QUELVAN_SOAK_TRANSACTIONS", 2000);
    uint64_t Rounds = std::max<uint64_t>(2, Setting("QUELVAN_SOAK_ROUNDS", 4));
    uint64_t RtuLanes = std::max<uint64_t>(1, Setting("QUELVAN_SOAK_RTU_LANES", 6));
    uint64_t AsciiLanes = std::max<uint64_t>(1, Setting("QUELVAN_SOAK_ASCII_LANES", 4));
    uint64_t RtuPercent = std::min<uint64_t>(100, Setting("QUELVAN_SOAK_RTU_PERCENT", 40));
    uint64_t Seed = Setting("QUELVAN_SOAK_SEED", std::random_device{}());
};

// The resident set in KiB, for the report (a sanitizer's quarantine makes it grow by
// design, so it is shown, not checked).
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(256, '\n');
    }
    return 0;
}

void Report(const char* Mode, const TSoakFigures& F) {
    std::printf("soak %s: %llu transactions with events, %llu broadcasts\n", Mode,
                static_cast<unsigned long long>(F.Transactions), static_cast<unsigned long long>(F.Broadcasts));
    std::printf("  by command:");
    for (int c = 0; c < 256; ++c)
        if (F.ByCommand[c]) std::printf(" 0x%02X=%llu", c, static_cast<unsigned long long>(F.ByCommand[c]));
    std::printf("\n  outcomes: normal %llu, exception %llu, no reply %llu, unmatched %llu; attempts %llu;"
                " refused by design %llu, to no server %llu\n",
                static_cast<unsigned long long>(F.Outcomes[rkNormalReply]),
                static_cast<unsigned long long>(F.Outcomes[rkExceptionReply]),
                static_cast<unsigned long long>(F.Outcomes[rkNoReply]),
                static_cast<unsigned long long>(F.Outcomes[rkUnmatchedReply]),
                static_cast<unsigned long long>(F.Attempts), static_cast<unsigned long long>(F.Refused),
                static_cast<unsigned long long>(F.NoServer));
    for (auto [name, c] : {std::pair{"to servers", &F.ToServer}, std::pair{"to clients", &F.ToClient}})
        std::printf("  line %s: %llu bytes sent, %llu dropped, %llu corrupted, %llu echoed, %llu injected, "
                    "%llu writes\n",
                    name, static_cast<unsigned long long>(c->Received), static_cast<unsigned long long>(c->Dropped),
                    static_cast<unsigned long long>(c->Corrupted), static_cast<unsigned long long>(c->Echoed),
                    static_cast<unsigned long long>(c->Injected), static_cast<unsigned long long>(c->Writes));
    std::printf("  %llu fault phases (%llu echoing), %llu injections; %llu items read back at the end\n",
                static_cast<unsigned long long>(F.Phases), static_cast<unsigned long long>(F.EchoPhases),
                static_cast<unsigned long long>(F.Injections), static_cast<unsigned long long>(F.ItemsVerified));
    std::printf("  not from the server: %llu outcomes decided by a late echo of the request, %llu by a damaged "
                "frame whose checksum held; %llu damaged requests handled by a server (%llu item writes)\n",
                static_cast<unsigned long long>(F.LateEchoes), static_cast<unsigned long long>(F.Unauthentic),
                static_cast<unsigned long long>(F.StrayRequests), static_cast<unsigned long long>(F.StrayWrites));
}

bool AllIdle(const std::vector<std::unique_ptr<TSoakLane>>& Lanes) {
    for (const auto& l : Lanes)
        if (!l->Idle()) return false;
    return true;
}

TEST(Soak, ClientsAndServersOnAFaultyLine) {
    const TSoakSettings s;
    std::printf("soak: seed %llu (QUELVAN_SOAK_SEED=%llu repeats the draws), %llu transactions, %llu rounds, "
                "%llu RTU and %llu ASCII lanes\n",
                static_cast<unsigned long long>(s.Seed), static_cast<unsigned long long>(s.Seed),
                static_cast<unsigned long long>(s.Transactions), static_cast<unsigned long long>(s.Rounds),
                static_cast<unsigned long long>(s.RtuLanes), static_cast<unsigned long long>(s.AsciiLanes));
    std::fflush(stdout);
    std::vector<std::string> shown;
    platform::Application().OnException = [&](const std::exception& e) { shown.push_back(e.what()); };

    // RTU waits a silent gap at the end of every frame, ASCII does not: RTU lanes get fewer
    // transactions each, so that both modes take about as long.
    std::vector<std::unique_ptr<TSoakLane>> lanes;
    std::vector<uint64_t> perRound;
    const uint64_t rtuTotal = s.Transactions * s.RtuPercent / 100;
    for (uint64_t i = 0; i < s.RtuLanes + s.AsciiLanes; ++i) {
        TLaneOptions o;
        o.Mode = i < s.RtuLanes ? tmRTU : tmASCII;
        o.Seed = s.Seed + i;
        o.ReceiveTimeout = o.Mode == tmRTU ? 120 : 80;
        lanes.push_back(std::make_unique<TSoakLane>(o));
        const uint64_t share = o.Mode == tmRTU ? rtuTotal / s.RtuLanes : (s.Transactions - rtuTotal) / s.AsciiLanes;
        perRound.push_back(std::max<uint64_t>(1, share / s.Rounds));
    }
    for (auto& l : lanes) l->Open();

    // The heap is compared from the first round after which every lane has sent enough to fill
    // what the checks remember of the line; from then on it must stay flat.
    constexpr uint64_t kWarmUp = 48;
    const auto started = std::chrono::steady_clock::now();
    std::optional<int64_t> baseline;
    uint64_t sinceBaseline = 0, done = 0;
    for (uint64_t round = 0; round < s.Rounds; ++round) {
        uint64_t issued = 0;
        for (size_t i = 0; i < lanes.size(); ++i) {
            lanes[i]->Run(static_cast<uint32_t>(perRound[i]));
            issued += perRound[i];
        }
        // Generous: a transaction never takes more than its attempts' time-outs, and lanes
        // run side by side.
        const int bound = static_cast<int>(std::max<uint64_t>(300000, issued * 500));
        ASSERT_TRUE(PumpUntil([&] { return AllIdle(lanes); }, bound)) << "round " << round << " did not finish";
        for (auto& l : lanes) EXPECT_EQ(l->PendingCount(), 0) << "round " << round;
        const int64_t live = LiveAllocations();
        if (baseline) sinceBaseline += issued;
        done += *std::min_element(perRound.begin(), perRound.end());
        if (!baseline && done >= kWarmUp) baseline = live;
        std::printf("soak: round %llu done after %.1f s: %lld live heap blocks, %ld KiB resident\n",
                    static_cast<unsigned long long>(round + 1),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                    static_cast<long long>(live), ResidentKiB());
        std::fflush(stdout);
    }
    const int64_t growth = baseline ? LiveAllocations() - *baseline : 0;

    for (auto& l : lanes) l->Verify();
    ASSERT_TRUE(PumpUntil([&] { return AllIdle(lanes); }, 300000)) << "reading back did not finish";

    TSoakFigures rtu, ascii;
    uint64_t failures = 0;
    for (auto& l : lanes) {
        (l->Mode() == tmRTU ? rtu : ascii).Add(l->Figures());
        failures += l->FailureCount();
        for (const std::string& f : l->Failures()) ADD_FAILURE() << f;
    }
    Report("RTU", rtu);
    Report("ASCII", ascii);
    for (auto& l : lanes)
        for (const std::string& note : l->Notes()) std::printf("  not from the server: %s\n", note.c_str());
    std::printf("soak: %.1f s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    EXPECT_EQ(failures, 0u) << "seed " << s.Seed;
    // A leak of even one block per fiftieth transaction would pass this bound many times over.
    if (!baseline || sinceBaseline == 0) std::printf("soak: too short to compare the heap between rounds\n");
    EXPECT_LE(growth, static_cast<int64_t>(200 + sinceBaseline / 50))
        << "live heap blocks grew by " << growth << " over " << sinceBaseline << " transactions";
    for (const std::string& e : shown) ADD_FAILURE() << "exception shown: " << e;
    platform::Application().OnException = nullptr;
}

}  // namespace
}  // namespace quelvan::test
