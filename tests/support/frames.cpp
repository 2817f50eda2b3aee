#include "support/frames.h"

#include <cstdio>

#include "quelvan/crc16.h"

namespace quelvan::test {

Bytes Rtu(Bytes Frame) {
    const uint16_t crc = Crc16(Frame);
    Frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    Frame.push_back(static_cast<uint8_t>(crc >> 8));
    return Frame;
}

Bytes Ascii(const Bytes& Frame) {
    static const char digits[] = "0123456789ABCDEF";
    Bytes withLrc = Frame;
    withLrc.push_back(Lrc(Frame));
    Bytes line{':'};
    for (uint8_t b : withLrc) {
        line.push_back(static_cast<uint8_t>(digits[b >> 4]));
        line.push_back(static_cast<uint8_t>(digits[b & 15]));
    }
    line.push_back('\r');
    line.push_back('\n');
    return line;
}

Bytes LineFrame(TTransmissionMode Mode, const Bytes& Frame) {
    return Mode == tmRTU ? Rtu(Frame) : Ascii(Frame);
}

Bytes FromLine(TTransmissionMode Mode, const Bytes& Line) {
    if (Mode == tmRTU) {
        if (Line.size() < 3) return {};
        Bytes f(Line.begin(), Line.end() - 2);
        return Rtu(f) == Line ? f : Bytes{};
    }
    if (Line.size() < 5 || Line.front() != ':' || (Line.size() - 3) % 2 != 0) return {};
    Bytes raw;
    auto nibble = [](uint8_t c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    for (size_t i = 1; i + 2 < Line.size(); i += 2)
        raw.push_back(static_cast<uint8_t>(nibble(Line[i]) << 4 | nibble(Line[i + 1])));
    if (raw.empty()) return {};
    Bytes f(raw.begin(), raw.end() - 1);
    return Ascii(f) == Line ? f : Bytes{};
}

std::string Hex(const Bytes& B) {
    std::string s;
    char buf[4];
    for (uint8_t b : B) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        s += buf;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

}  // namespace quelvan::test
