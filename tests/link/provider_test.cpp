#include <gtest/gtest.h>

#include "link/ftdi_library.h"
#include "link/system_driver.h"
#include "link/vendor_library.h"
#include "support/scripted_driver.h"

namespace qvx::test {
namespace {

TEST(SystemDriver, TakesTheFirstProviderThatLoadsOnceAtTheFirstCall) {
  struct Case {
    bool vendorThere, ftdiThere;
    int expected;  // index of the provider used, -1 none
    int loadsTried;
  };
  for (const Case c :
       {Case{true, true, 0, 1}, Case{false, true, 1, 2}, Case{false, false, -1, 2}}) {
    SCOPED_TRACE(c.expected);
    int loads = 0;
    std::vector<ScriptedDriver*> made;
    auto loader = [&](bool there) {
      return [&, there]() -> std::unique_ptr<D2xx> {
        ++loads;
        made.push_back(there ? new ScriptedDriver : nullptr);
        return std::unique_ptr<D2xx>(made.back());
      };
    };
    SystemDriver driver({loader(c.vendorThere), loader(c.ftdiThere)});
    EXPECT_EQ(loads, 0);

    FT_HANDLE h = nullptr;
    DWORD n = 0;
    std::uint8_t byte = 0;
    const FT_STATUS open = driver.FT_OpenEx("Quorvex", ft::OPEN_BY_DESCRIPTION, &h);
    const std::vector<FT_STATUS> rest = {driver.FT_SetTimeouts(h, 100, 0),
                                         driver.FT_SetLatencyTimer(h, 2),
                                         driver.FT_SetUSBParameters(h, 65536, 65536),
                                         driver.FT_Purge(h, 3),
                                         driver.FT_Write(h, &byte, 1, &n),
                                         driver.FT_Read(h, &byte, 1, &n),
                                         driver.FT_Close(h)};

    EXPECT_EQ(loads, c.loadsTried);
    if (c.expected < 0) {
      EXPECT_EQ(driver.Provider(), nullptr);
      EXPECT_EQ(open, ft::DEVICE_NOT_FOUND);
      EXPECT_EQ(rest, std::vector<FT_STATUS>(7, ft::INVALID_HANDLE));
    } else {
      ScriptedDriver* used = made[static_cast<std::size_t>(c.expected)];
      EXPECT_EQ(driver.Provider(), used);
      EXPECT_EQ(used->calls.size(), 8u);
    }
  }
}

TEST(VendorLibrary, LoadsOnlyALibraryWithAllEightCalls) {
  EXPECT_EQ(VendorLibrary::Load("libqvx-no-such-driver.so"), nullptr);
  EXPECT_EQ(VendorLibrary::Load(FtdiLibrary::kLibraryName), nullptr);  // has none of the eight
}

TEST(FtdiLibrary, WithoutABoardOpenFailsCleanlyAndOtherCallsRefuseTheHandle) {
  std::unique_ptr<FtdiLibrary> ftdi = FtdiLibrary::Load();
  ASSERT_NE(ftdi, nullptr) << "libftdi1 is a build dependency";
  FT_HANDLE h = nullptr;
  const FT_STATUS open = ftdi->FT_OpenEx("Quorvex", ft::OPEN_BY_DESCRIPTION, &h);
  EXPECT_TRUE(open == ft::DEVICE_NOT_FOUND || open == ft::DEVICE_NOT_OPENED) << open;
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(ftdi->FT_OpenEx("Quorvex", 1, &h), ft::NOT_SUPPORTED);
  EXPECT_EQ(ftdi->FT_OpenEx(nullptr, ft::OPEN_BY_DESCRIPTION, &h), ft::INVALID_PARAMETER);

  int notOurs = 0;
  DWORD n = 0;
  std::uint8_t byte = 0;
  for (FT_HANDLE bad : {FT_HANDLE{nullptr}, FT_HANDLE{&notOurs}}) {
    EXPECT_EQ(
        (std::vector<FT_STATUS>{ftdi->FT_SetTimeouts(bad, 100, 0), ftdi->FT_SetLatencyTimer(bad, 2),
                                ftdi->FT_SetUSBParameters(bad, 65536, 65536),
                                ftdi->FT_Purge(bad, 3), ftdi->FT_Write(bad, &byte, 1, &n),
                                ftdi->FT_Read(bad, &byte, 1, &n), ftdi->FT_Close(bad)}),
        std::vector<FT_STATUS>(7, ft::INVALID_HANDLE));
  }
}

}  // namespace
}  // namespace qvx::test
