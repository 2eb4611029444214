#include "report/machine_identity.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/adapters.h"
#include "shell/log.h"
#include "system/file_util.h"
#include "tests/common/sandbox.h"

namespace zel {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MachineIdentityTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::ResetFakeAdapters(); }

  void UseAdapters(std::vector<platform::AdapterRecord> adapters,
                   std::vector<std::string> physical = {}) {
    platform::FakeAdapters fake;
    fake.adapters = std::move(adapters);
    fake.physical = std::move(physical);
    platform::SetFakeAdapters(fake);
  }
};

TEST(AdapterAddressTest, FormatsSixByteAddressesOnly) {
  const struct {
    Bytes bytes;
    const char* text;
  } cases[] = {
      {{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}, "00-1a-2b-3c-4d-5e"},
      {{0xA4, 0x5E, 0x60, 0xFF, 0x00, 0x01}, "a4-5e-60-ff-00-01"},
      {{0, 0, 0, 0, 0, 0}, ""},        // identifies nothing
      {{0x00, 0x1a, 0x2b}, ""},        // short
      {{1, 2, 3, 4, 5, 6, 7, 8}, ""},  // not an Ethernet address
      {{}, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatAdapterAddress(c.bytes), c.text) << c.text;
}

TEST(AdapterAddressTest, VirtualMachinePrefixesMatchAnywhere) {
  const struct {
    const char* address;
    bool is_virtual;
  } cases[] = {
      {"00-50-56-11-22-33", true},  {"08-00-27-11-22-33", true},  {"00-1c-14-00-00-01", true},
      {"00-0c-29-aa-bb-cc", true},  {"12-34-00-50-56-78", true},  // not at the start
      {"a4-5e-60-11-22-33", false}, {"00-50-57-11-22-33", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsVirtualMachineAddress(c.address), c.is_virtual) << c.address;
}

TEST_F(MachineIdentityTest, UserListSkipsVirtualAdaptersAmongTheFirstThree) {
  UseAdapters({{"{1}", {0x00, 0x50, 0x56, 0x01, 0x02, 0x03}},
               {"{2}", {0xa4, 0x5e, 0x60, 0x01, 0x02, 0x03}},
               {"{3}", {0x08, 0x00, 0x27, 0x01, 0x02, 0x03}},
               {"{4}", {0x0a, 0x00, 0x00, 0x00, 0x00, 0x01}}},  // fourth: never counted
              {"{4}"});
  EXPECT_EQ(ListAdapterAddresses(), (std::vector<std::string>{"a4-5e-60-01-02-03"}));
}

TEST_F(MachineIdentityTest, UserListIsSortedAndSkipsUnusableAddresses) {
  UseAdapters({{"{z}", {0, 0, 0, 0, 0, 0}},
               {"{s}", {0xb0, 0x01}},
               {"{1}", {0xf0, 0x00, 0x00, 0x00, 0x00, 0x01}},
               {"{2}", {0x0a, 0x00, 0x00, 0x00, 0x00, 0x02}},
               {"{3}", {0x5c, 0x00, 0x00, 0x00, 0x00, 0x03}}});
  EXPECT_EQ(
      ListAdapterAddresses(),
      (std::vector<std::string>{"0a-00-00-00-00-02", "5c-00-00-00-00-03", "f0-00-00-00-00-01"}));
}

TEST_F(MachineIdentityTest, WebIdentityPrefersPhysicalAdapters) {
  const struct {
    const char* name;
    std::vector<platform::AdapterRecord> adapters;
    std::vector<std::string> physical;
    const char* identity;
  } cases[] = {
      {"two physical, sorted",
       {{"{b}", {0xb0, 1, 2, 3, 4, 5}},
        {"{v}", {0x08, 0x00, 0x27, 1, 2, 3}},
        {"{a}", {0x0a, 1, 2, 3, 4, 5}}},
       {"{b}", "{a}"},
       "0a-01-02-03-04-05:b0-01-02-03-04-05"},
      {"a physical fourth adapter counts",
       {{"{1}", {0x10, 0, 0, 0, 0, 1}},
        {"{2}", {0x20, 0, 0, 0, 0, 2}},
        {"{3}", {0x30, 0, 0, 0, 0, 3}},
        {"{4}", {0x40, 0, 0, 0, 0, 4}}},
       {"{4}"},
       "40-00-00-00-00-04"},
      {"none physical: the non-virtual ones",
       {{"{1}", {0x00, 0x50, 0x56, 0, 0, 1}},
        {"{2}", {0xc0, 0, 0, 0, 0, 2}},
        {"{3}", {0x80, 0, 0, 0, 0, 3}}},
       {},
       "80-00-00-00-00-03:c0-00-00-00-00-02"},
      {"all virtual: the first three unfiltered",
       {{"{1}", {0x08, 0x00, 0x27, 0, 0, 1}},
        {"{2}", {0x00, 0x50, 0x56, 0, 0, 2}},
        {"{3}", {0x00, 0x0c, 0x29, 0, 0, 3}},
        {"{4}", {0x00, 0x16, 0x3e, 0, 0, 4}}},
       {},
       "00-0c-29-00-00-03:00-50-56-00-00-02:08-00-27-00-00-01"},
      {"no adapter", {}, {}, ""},
  };
  for (const auto& c : cases) {
    UseAdapters(c.adapters, c.physical);
    EXPECT_EQ(GetMachineIdentity(), c.identity) << c.name;
  }
}

TEST_F(MachineIdentityTest, UnreadableAdapterListIsLogged) {
  std::wstring log_path = ToWide(test::SandboxPath("home/Documents/Telviska/Log/install.log"));
  ILog::Instance().Init(log_path);
  platform::FakeAdapters fake;
  fake.list_fails = true;
  platform::SetFakeAdapters(fake);
  EXPECT_EQ(GetMachineIdentity(), "");
  EXPECT_TRUE(ListAdapterAddresses().empty());
  EXPECT_NE(test::ReadFile(ToNarrow(log_path)).find(" : failed to call GetAdaptersInfo\n\n"),
            std::string::npos);
}

TEST(RunGuidTest, ThirtyTwoUpperCaseHexDigitsFreshEachTime) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string id = NewRunGuid();
    ASSERT_EQ(id.size(), 32u);
    for (char c : id)
      EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << id;
    EXPECT_EQ(id[12], '4') << id;  // a version-4 GUID's Data3
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(Base64Test, StandardAlphabetWithPadding) {
  const struct {
    std::string in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foobar", "Zm9vYmFy"},
      {"\xfb\xff\xbf", "+/+/"},
      {"0a-01-02-03-04-05:b0-01-02-03-04-05", "MGEtMDEtMDItMDMtMDQtMDU6YjAtMDEtMDItMDMtMDQtMDU="},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Base64Encode(c.in.data(), c.in.size()), c.out) << c.in;
}

}  // namespace
}  // namespace zel
