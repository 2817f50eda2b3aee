#pragma once
// The serial line settings the interop suites run under, in a form every peer can be given.
//
// On pseudo-terminals the kernel keeps 8 data bits and no parity whatever is asked, so parity
// and data bits are virtual: the cases show that each side accepts the settings and that frames
// survive them. Timing is real where the relay is paced at the baud rate: then every byte
// takes its character time on the way, as on a wire.

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "platform/virtual_null_modem.h"
#include "quelvan/modbus_connection.h"

namespace quelvan::interop {

struct TLineCase {
    const char* Name;  // also the test-name suffix
    uint32_t Baud;
    char Parity;   // 'N', 'E' or 'O'
    int DataBits;  // 7 or 8
    int StopBits;  // 1 or 2
    bool Paced;    // the relay delivers bytes at the baud rate
};

// Fast and unpaced: the line for every test that is not about line settings.
extern const TLineCase DefaultLine;
// The settings every peer is tested under (8E1 at 19200, 8N2, 7 data bits, ...).
extern const TLineCase LineCases[];
extern const int LineCaseCount;

// Applies the settings to a connection (RTU).
void ApplyLine(TModbusConnection& Connection, const TLineCase& Line);
// Paces both directions of the relay for a paced case; leaves it instant otherwise.
void PaceRelay(platform::TVirtualNullModem& Modem, const TLineCase& Line);
// A null-modem paced for Line from the start, so that even the first bytes take their time.
struct TPacedModem : platform::TVirtualNullModem {
    explicit TPacedModem(const TLineCase& Line) { PaceRelay(*this, Line); }
};
// Line bits of one character: start, data, parity, stop.
uint8_t LineBitsPerChar(const TLineCase& Line);

// Names the instances of a suite parameterised by line case.
inline std::string LineName(const ::testing::TestParamInfo<TLineCase>& Param) { return Param.param.Name; }

inline std::ostream& operator<<(std::ostream& S, const TLineCase& L) { return S << L.Name; }

}  // namespace quelvan::interop
