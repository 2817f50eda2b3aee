#include "quelvan/line_settings.h"

#include <cmath>
#include <limits>

namespace quelvan {

namespace {
constexpr uint32_t StandardRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                      19200, 38400, 56000, 57600, 115200, 128000, 256000};
}

uint32_t BaudRateValue(TBaudRate Rate, uint32_t CustomBaudRate) {
    if (Rate < brCustom) return StandardRates[Rate];
    return CustomBaudRate;
}

platform::TLineSettings MakeLineSettings(const TLineProperties& P) {
    using platform::TFlowMode;
    using platform::TParityMode;
    platform::TLineSettings s;
    s.BaudRate = BaudRateValue(P.BaudRate, P.CustomBaudRate);
    s.DataBits = P.DataBits == db7 ? 7 : 8;
    s.Parity = P.Parity == psNone ? TParityMode::None
               : P.Parity == psOdd ? TParityMode::Odd
                                   : TParityMode::Even;
    s.ParityCheck = P.Parity != psNone;
    s.StopBits = P.StopBits == sb2 ? 2 : 1;
    switch (P.FlowControl) {
    case fcNone: s.Flow = TFlowMode::None; break;
    case fcRtsToggle: s.Flow = TFlowMode::RtsToggle; break;
    case fcRtsCts: s.Flow = TFlowMode::RtsCts; break;
    case fcDtrDsr: s.Flow = TFlowMode::DtrDsr; break;
    }
    s.RtsOn = P.RTSEnabled && (P.FlowControl == fcNone || P.FlowControl == fcDtrDsr);
    s.DtrOn = P.DTREnabled && P.FlowControl != fcDtrDsr;
    return s;
}

uint32_t CharacterBits(const TLineProperties& P) {
    return (P.DataBits == db7 ? 7u : 8u) + (P.StopBits == sb2 ? 2u : 1u) +
           (P.Parity != psNone ? 1u : 0u);
}

uint32_t SilentIntervalMilliseconds(TTransmissionMode Mode, uint32_t SilentInterval,
                                    const TLineProperties& P) {
    uint64_t ms = SilentInterval;
    if (Mode == tmRTU) {
        const uint32_t baud = BaudRateValue(P.BaudRate, P.CustomBaudRate);
        // 64-bit product: a 32-bit one wraps for large intervals and would yield a tiny gap.
        const uint64_t bitTimesMs = uint64_t{CharacterBits(P)} * SilentInterval * 1000u;
        ms = baud == 0 ? std::numeric_limits<uint32_t>::max()
                       : static_cast<uint64_t>(std::ceil(static_cast<double>(bitTimesMs) / baud));
    }
    if (ms < MinSilentIntervalMs) ms = MinSilentIntervalMs;
    if (ms > std::numeric_limits<uint32_t>::max()) ms = std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(ms);
}

}  // namespace quelvan
