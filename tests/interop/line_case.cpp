#include "interop/line_case.h"

namespace quelvan::interop {

const TLineCase DefaultLine{"8N1_115200", 115200, 'N', 8, 1, false};

const TLineCase LineCases[] = {
    {"8E1_19200_paced", 19200, 'E', 8, 1, true},
    {"8N2_9600_paced", 9600, 'N', 8, 2, true},
    {"8O1_38400_paced", 38400, 'O', 8, 1, true},
    {"7E1_19200_paced", 19200, 'E', 7, 1, true},
    {"7N2_57600", 57600, 'N', 7, 2, false},
    {"8N1_115200", 115200, 'N', 8, 1, false},
};
const int LineCaseCount = static_cast<int>(sizeof(LineCases) / sizeof(LineCases[0]));

namespace {
// The listed rates go through the enumeration, as an application would set them.
TBaudRate ListedRate(uint32_t Baud) {
    switch (Baud) {
    case 9600: return br9600;
    case 19200: return br19200;
    case 38400: return br38400;
    case 57600: return br57600;
    case 115200: return br115200;
    default: return brCustom;
    }
}
}  // namespace

void ApplyLine(TModbusConnection& Connection, const TLineCase& Line) {
    Connection.SetTransmissionMode(tmRTU);
    const TBaudRate rate = ListedRate(Line.Baud);
    if (rate == brCustom) Connection.SetCustomBaudRate(Line.Baud);
    else Connection.SetBaudRate(rate);
    Connection.SetParity(Line.Parity == 'E' ? psEven : Line.Parity == 'O' ? psOdd : psNone);
    Connection.SetDataBits(Line.DataBits == 7 ? db7 : db8);
    Connection.SetStopBits(Line.StopBits == 2 ? sb2 : sb1);
}

uint8_t LineBitsPerChar(const TLineCase& Line) {
    return static_cast<uint8_t>(1 + Line.DataBits + (Line.Parity == 'N' ? 0 : 1) + Line.StopBits);
}

void PaceRelay(platform::TVirtualNullModem& Modem, const TLineCase& Line) {
    platform::TRelayControls c;
    if (Line.Paced) {
        c.BaudRate = Line.Baud;
        c.BitsPerChar = LineBitsPerChar(Line);
    }
    Modem.SetControls(platform::TNullModemSide::A, c);
    Modem.SetControls(platform::TNullModemSide::B, c);
}

}  // namespace quelvan::interop
