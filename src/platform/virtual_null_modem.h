#pragma once
// A virtual null-modem cable: two pseudo-terminals whose slave paths (PortA, PortB) are
// ordinary port names, joined by a relay thread that moves what one side writes to the
// other. The relay can imitate a real line: pace bytes at a baud rate, split writes into
// chunks, delay, drop, corrupt, inject bytes and echo a side's own bytes back to it
// (a two-wire RS-485 adapter). Randomness comes from a seeded generator, so a run can be
// repeated.
//
// Threading: every member may be called from any thread at any time. The relay sleeps in
// poll() while the line is idle. The destructor stops it and closes every descriptor.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quelvan::platform {

enum class TNullModemSide : uint8_t { A, B };

// What the relay does to the bytes one side sends. Defaults: a perfect, instant cable.
struct TRelayControls {
    uint32_t BaudRate = 0;    // pace bytes at this rate (0: as fast as they come)
    uint8_t BitsPerChar = 10;  // line bits per character for pacing (8N1: 10, 8E1: 11)
    uint32_t ChunkSize = 0;    // deliver in pieces of at most this many bytes (0: whole)
    uint32_t ChunkDelayMs = 0;  // pause between two pieces
    uint32_t DelayMs = 0;      // extra delay before any byte is delivered
    double DropProbability = 0;     // chance that a byte is lost
    double CorruptProbability = 0;  // chance that one random bit of a byte is flipped
    bool Echo = false;         // also deliver the bytes, as sent, back to the sender

    bool operator==(const TRelayControls&) const = default;
};

// Counts for the bytes one side sends, since the null-modem was made.
struct TRelayCounters {
    uint64_t Received = 0;   // bytes the relay read from the sending side
    uint64_t Delivered = 0;  // bytes written to the other side (injected ones included)
    uint64_t Dropped = 0;    // bytes lost (by the controls or because the other side is unplugged)
    uint64_t Corrupted = 0;  // bytes changed on the way
    uint64_t Echoed = 0;     // bytes written back to the sender
    uint64_t Injected = 0;   // bytes injected toward the other side
    uint64_t Writes = 0;     // write calls toward the other side (one per chunk)
};

class TVirtualNullModem {
public:
    // Raises EOSError when the pseudo-terminals or the relay cannot be set up.
    explicit TVirtualNullModem(uint64_t Seed = 1);
    ~TVirtualNullModem();
    TVirtualNullModem(const TVirtualNullModem&) = delete;
    TVirtualNullModem& operator=(const TVirtualNullModem&) = delete;

    const std::string& PortA() const;
    const std::string& PortB() const;
    const std::string& Port(TNullModemSide Side) const;

    // Controls for what From sends; they apply to bytes the relay reads from then on.
    void SetControls(TNullModemSide From, const TRelayControls& Controls);
    TRelayControls Controls(TNullModemSide From) const;
    // Loses the next Count bytes From sends.
    void DropNext(TNullModemSide From, uint32_t Count);
    // XORs Mask into the byte at Offset (0: the next one) among those From sends from now.
    void CorruptAt(TNullModemSide From, uint64_t Offset, uint8_t Mask = 0x01);
    // Delivers Bytes to the To side at once, in one write, bypassing the controls.
    void Inject(TNullModemSide To, std::vector<uint8_t> Bytes);
    // Restarts the random generator.
    void Reseed(uint64_t Seed);

    TRelayCounters Counters(TNullModemSide From) const;
    // True when nothing is waiting to be delivered (bytes still in a pseudo-terminal's
    // kernel buffer are not seen).
    bool Idle() const;

    // Pulls the plug on one side: its master is closed, so a device open on that side sees
    // a hangup, and what the other side sends is dropped. Returns when done; lasting.
    void Unplug(TNullModemSide Side);
    bool Unplugged(TNullModemSide Side) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quelvan::platform
