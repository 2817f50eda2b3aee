#include "quelvan/enum_serial_ports.h"

#include "platform/serial_port_enum.h"

namespace quelvan {

void EnumSerialPorts(std::vector<std::string>& Strings) {
    Strings = platform::ListSerialPorts();
}

}  // namespace quelvan
