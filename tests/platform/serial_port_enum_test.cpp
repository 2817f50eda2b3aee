#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/serial_port_enum.h"

namespace fs = std::filesystem;
using quelvan::platform::ListSerialPorts;

namespace {

// A fake sysfs: class/tty entries are links into devices/, as in the real tree; ports
// with hardware have a "device" link.
class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quelvan-sysfs-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        fs::create_directories(root_ / "class" / "tty");
        fs::create_directories(root_ / "devices" / "pnp0" / "00:01");
    }
    void TearDown() override { fs::remove_all(root_); }

    void AddTty(const std::string& Name, bool WithDevice) {
        const fs::path dir = root_ / "devices" / "virtual" / "tty" / Name;
        fs::create_directories(dir);
        if (WithDevice) fs::create_directory_symlink(root_ / "devices" / "pnp0" / "00:01", dir / "device");
        fs::create_directory_symlink(dir, root_ / "class" / "tty" / Name);
    }

    fs::path root_;
};

}  // namespace

TEST_F(FakeSysfs, ListsTtysWithABackingDeviceSorted) {
    AddTty("ttyUSB0", true);
    AddTty("tty0", false);
    AddTty("ttyS1", true);
    AddTty("console", false);
    AddTty("ttyACM0", true);
    AddTty("ttyS0", true);
    EXPECT_EQ(ListSerialPorts(root_.string()),
              (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0"}));
}

TEST_F(FakeSysfs, ADanglingDeviceLinkStillCounts) {
    // The link is what tells a hardware port; its target is not read.
    fs::create_directories(root_ / "class" / "tty" / "ttyS4");
    fs::create_symlink("/nonexistent", root_ / "class" / "tty" / "ttyS4" / "device");
    EXPECT_EQ(ListSerialPorts(root_.string()), (std::vector<std::string>{"/dev/ttyS4"}));
}

TEST_F(FakeSysfs, NoTtyClassGivesAnEmptyList) {
    EXPECT_TRUE(ListSerialPorts((root_ / "nothing-here").string()).empty());
    fs::remove_all(root_ / "class");
    EXPECT_TRUE(ListSerialPorts(root_.string()).empty());
}
