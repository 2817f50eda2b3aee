#pragma once
// Serial ports known to the system: /sys/class/tty entries that have a backing device,
// as "/dev/<name>" paths, sorted by name. SysfsRoot is injectable for tests.

#include <string>
#include <vector>

namespace quelvan::platform {

std::vector<std::string> ListSerialPorts(const std::string& SysfsRoot = "/sys");

}  // namespace quelvan::platform
