#include "platform/adapters.h"

#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/sandbox.h"

namespace zel::platform {
namespace {

namespace fs = std::filesystem;

// A network class folder laid out as the kernel does: one folder per
// interface, "device" a link into the device tree.
class SysfsAdaptersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::SandboxPath("sys/class/net");
    fs::create_directories(root_);
    ::setenv("ZEL_SYSFS_NET_ROOT", root_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("ZEL_SYSFS_NET_ROOT"); }

  void AddInterface(const std::string& name, int index, int type, const std::string& address,
                    const std::string& device = "") {
    const std::string dir = root_ + "/" + name;
    test::WriteFile(dir + "/ifindex", std::to_string(index) + "\n");
    test::WriteFile(dir + "/type", std::to_string(type) + "\n");
    test::WriteFile(dir + "/address", address + "\n");
    if (!device.empty()) {
      const std::string target = test::SandboxPath("sys/devices/" + device);
      fs::create_directories(target);
      fs::create_symlink(target, dir + "/device");
    }
  }

  std::string root_;
};

TEST_F(SysfsAdaptersTest, ListsInterfacesInIndexOrderWithoutLoopback) {
  AddInterface("lo", 1, 772, "00:00:00:00:00:00");
  AddInterface("wlan0", 3, 1, "A4:5E:60:01:02:03", "pci0000:00/0000:00:14.0/usb1/1-1");
  AddInterface("eth0", 2, 1, "02:fc:00:00:00:01", "pci0000:00/0000:00:03.0/virtio2");
  AddInterface("tun0", 4, 65534, "");
  AddInterface("ifb0", 5, 1, "ae:30:5d:3f:56:ac", "virtual/net/ifb0");

  std::optional<std::vector<AdapterRecord>> list = ListAdapters();
  ASSERT_TRUE(list);
  std::vector<std::string> names;
  for (const AdapterRecord& record : *list)
    names.push_back(record.name);
  EXPECT_EQ(names, (std::vector<std::string>{"eth0", "wlan0", "tun0", "ifb0"}));
  EXPECT_EQ((*list)[0].hardware_address,
            (std::vector<std::uint8_t>{0x02, 0xfc, 0x00, 0x00, 0x00, 0x01}));
  EXPECT_EQ((*list)[1].hardware_address,
            (std::vector<std::uint8_t>{0xa4, 0x5e, 0x60, 0x01, 0x02, 0x03}));
  EXPECT_TRUE((*list)[2].hardware_address.empty());
}

TEST_F(SysfsAdaptersTest, PhysicalMeansABusDeviceOnThePciBus) {
  AddInterface("eth0", 2, 1, "02:fc:00:00:00:01", "pci0000:00/0000:00:03.0/virtio2");
  AddInterface("ifb0", 3, 1, "ae:30:5d:3f:56:ac", "virtual/net/ifb0");
  AddInterface("veth0", 4, 1, "ae:30:5d:3f:56:ad");  // no device at all
  AddInterface("soc0", 5, 1, "ae:30:5d:3f:56:ae", "platform/soc/ethernet");
  const struct {
    const char* name;
    bool physical;
  } cases[] = {{"eth0", true},    {"ifb0", false},        {"veth0", false}, {"soc0", false},
               {"absent", false}, {"../net/eth0", false}, {"", false}};
  for (const auto& c : cases)
    EXPECT_EQ(IsPhysicalAdapter(c.name), c.physical) << c.name;
}

TEST_F(SysfsAdaptersTest, MalformedAddressesGiveNoAddress) {
  const char* bad[] = {"zz:00:00:00:00:00", "00:11:22:33:44:", "001122334455", "0:1:2"};
  int index = 10;
  for (const char* address : bad) {
    AddInterface("bad" + std::to_string(index), index, 1, address);
    ++index;
  }
  std::optional<std::vector<AdapterRecord>> list = ListAdapters();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 4u);
  for (const AdapterRecord& record : *list) {
    EXPECT_TRUE(record.hardware_address.empty()) << record.name;
  }
}

TEST_F(SysfsAdaptersTest, MissingFolderFailsTheList) {
  ::setenv("ZEL_SYSFS_NET_ROOT", test::SandboxPath("nowhere").c_str(), 1);
  EXPECT_FALSE(ListAdapters());
}

TEST(FakeAdaptersTest, StandInForTheSystemList) {
  FakeAdapters fake;
  fake.adapters = {{"{A}", {1, 2, 3, 4, 5, 6}}};
  fake.physical = {"{A}"};
  SetFakeAdapters(fake);
  ASSERT_TRUE(ListAdapters());
  EXPECT_EQ(ListAdapters()->size(), 1u);
  EXPECT_TRUE(IsPhysicalAdapter("{A}"));
  EXPECT_FALSE(IsPhysicalAdapter("{B}"));
  fake.list_fails = true;
  SetFakeAdapters(fake);
  EXPECT_FALSE(ListAdapters());
  ResetFakeAdapters();
}

}  // namespace
}  // namespace zel::platform
