#include <gtest/gtest.h>

#include "platform/serial_device.h"

using quelvan::platform::MapPortName;

TEST(SerialPortName, MapsUserNamesToDevicePaths) {
    struct Case {
        const char* Name;
        const char* Path;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},         {"COM10", "/dev/ttyS9"},
        {"com3", "/dev/ttyS2"},         {"COM0", "/dev/COM0"},
        {"COM", "/dev/COM"},            {"COM1x", "/dev/COM1x"},
        {"ttyUSB0", "/dev/ttyUSB0"},    {"/dev/pts/4", "/dev/pts/4"},
        {"/tmp/port", "/tmp/port"},     {"serial/by-id/x", "/dev/serial/by-id/x"},
        {"", ""},                       {"COM99999999999", "/dev/COM99999999999"},
    };
    for (const Case& c : cases) EXPECT_EQ(MapPortName(c.Name), c.Path) << c.Name;
}
