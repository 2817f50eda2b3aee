#pragma once
// Enumerations and small types of a Modbus connection's published properties.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/thread.h"

namespace quelvan {

enum TBaudRate : uint8_t {
    br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
    br56000, br57600, br115200, br128000, br256000, brCustom
};
enum TConnectionMode : uint8_t { cmClient, cmServer };
enum TDataBits : uint8_t { db7, db8 };
enum TFlowControl : uint8_t { fcNone, fcRtsToggle, fcRtsCts, fcDtrDsr };
enum TParityScheme : uint8_t { psNone, psOdd, psEven };
enum TStopBits : uint8_t { sb1, sb2 };
enum TTransmissionMode : uint8_t { tmRTU, tmASCII };

using TMaxRetries = uint32_t;  // 1..4294967295
using TSerialPort = std::string;
using TFrameData = std::vector<uint8_t>;  // line bytes exactly as sent or received

using platform::TThreadPriority;
using platform::tpIdle;
using platform::tpLowest;
using platform::tpLower;
using platform::tpNormal;
using platform::tpHigher;
using platform::tpHighest;
using platform::tpTimeCritical;

}  // namespace quelvan
