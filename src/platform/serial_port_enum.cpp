#include "platform/serial_port_enum.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace quelvan::platform {

// Every tty the kernel backs with a device is listed: UARTs, USB adapters, ACM modems. On
// PCs the 8250 driver also registers placeholder ttyS ports without hardware behind them;
// they are listed too, since sysfs gives no reliable sign of a missing UART (opening the
// port and asking the driver would be the only test, and listing must not open ports).
// Virtual consoles and pseudo-terminals have no device link and are left out.
std::vector<std::string> ListSerialPorts(const std::string& SysfsRoot) {
    namespace fs = std::filesystem;
    std::vector<std::string> ports;
    std::error_code ec;
    fs::directory_iterator it(fs::path(SysfsRoot) / "class" / "tty", ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        if (fs::exists(fs::symlink_status(it->path() / "device", linkError)))
            ports.push_back("/dev/" + it->path().filename().string());
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

}  // namespace quelvan::platform
