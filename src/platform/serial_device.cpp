#include "platform/serial_device.h"

#include <cctype>
#include <cstring>

namespace quelvan::platform {

std::string MapPortName(const std::string& PortName) {
    if (PortName.empty() || PortName.front() == '/') return PortName;
    // "COMn": Windows numbers ports from 1, Linux numbers ttyS devices from 0.
    if (PortName.size() > 3 && PortName.size() <= 12 &&
        std::toupper(static_cast<unsigned char>(PortName[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(PortName[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(PortName[2])) == 'M') {
        unsigned long n = 0;
        bool digits = true;
        for (size_t i = 3; i < PortName.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(PortName[i]))) {
                digits = false;
                break;
            }
            n = n * 10 + static_cast<unsigned long>(PortName[i] - '0');
        }
        if (digits && n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
    return "/dev/" + PortName;
}

std::string ISerialDevice::LastErrorText() const {
    const int code = LastError();
    if (code == 0) return {};
    char buf[256];
    const char* text = strerror_r(code, buf, sizeof buf);  // GNU: may not use buf
    return DevicePath() + ": " + (text ? text : "Unknown error");
}

}  // namespace quelvan::platform
