#pragma once
// How a connection's line properties become device settings, and the RTU end-of-frame gap.
// This is the one place that maps the published enumerations to numbers on the wire.

#include <cstdint>

#include "platform/serial_device.h"
#include "quelvan/connection_types.h"

namespace quelvan {

struct TLineProperties {
    TBaudRate BaudRate = br19200;
    uint32_t CustomBaudRate = 19200;
    TDataBits DataBits = db8;
    TParityScheme Parity = psEven;
    TStopBits StopBits = sb1;
    TFlowControl FlowControl = fcNone;
    bool DTREnabled = true;
    bool RTSEnabled = true;
};

// Bits per second of a TBaudRate (CustomBaudRate for brCustom).
uint32_t BaudRateValue(TBaudRate Rate, uint32_t CustomBaudRate);

// Device settings for the properties: parity checked whenever parity is used; RTS held on
// only without RTS handshake or toggle, DTR only without DTR handshake.
platform::TLineSettings MakeLineSettings(const TLineProperties& P);

// Bits of one character as counted for the silent interval: data bits, stop bits, and one
// parity bit when parity is used; the start bit is not counted (8E1 counts 10).
uint32_t CharacterBits(const TLineProperties& P);

// The end-of-frame gap in milliseconds, never below 20. RTU: SilentInterval character times at
// the baud rate, rounded up; ASCII: SilentInterval milliseconds.
uint32_t SilentIntervalMilliseconds(TTransmissionMode Mode, uint32_t SilentInterval,
                                    const TLineProperties& P);

constexpr uint32_t MinSilentIntervalMs = 20;

}  // namespace quelvan
