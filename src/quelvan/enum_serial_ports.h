#pragma once
// The serial ports known to the system, for port lists in settings dialogs and tools.

#include <string>
#include <vector>

namespace quelvan {

// Clears Strings, then fills it with the device paths of the serial ports found.
void EnumSerialPorts(std::vector<std::string>& Strings);

}  // namespace quelvan
