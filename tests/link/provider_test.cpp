#include <gtest/gtest.h>

#include "link/ftdi_library.h"
#include "link/system_driver.h"
#include "link/vendor_library.h"
#include "support/scripted_driver.h"

namespace qvx::test {
namespace {

// --- SystemDriver: which provider, and what happens without one -----------------------------

struct Providers {
  int vendorLoads = 0;
  int ftdiLoads = 0;
  ScriptedDriver* vendor = nullptr;  // the instance handed out, when one was
  ScriptedDriver* ftdi = nullptr;

  SystemDriver Make(bool vendorThere, bool ftdiThere) {
    auto loader = [](int& loads, ScriptedDriver*& made, bool there) {
      return [&loads, &made, there]() -> std::unique_ptr<D2xx> {
        ++loads;
        if (!there) return nullptr;
        auto d = std::make_unique<ScriptedDriver>();
        made = d.get();
        return d;
      };
    };
    return SystemDriver(
        {loader(vendorLoads, vendor, vendorThere), loader(ftdiLoads, ftdi, ftdiThere)});
  }
};

TEST(SystemDriver, PrefersTheVendorLibraryAndLoadsOnceAtTheFirstCall) {
  Providers p;
  SystemDriver driver = p.Make(true, true);
  EXPECT_EQ(p.vendorLoads, 0);

  FT_HANDLE h = nullptr;
  EXPECT_EQ(driver.FT_OpenEx("Quorvex", ft::OPEN_BY_DESCRIPTION, &h), ft::OK);
  EXPECT_EQ(driver.FT_Purge(h, 3), ft::OK);

  EXPECT_EQ(p.vendorLoads, 1);
  EXPECT_EQ(p.ftdiLoads, 0);
  EXPECT_EQ(driver.Provider(), p.vendor);
  EXPECT_EQ(p.vendor->calls.size(), 2u);
}

TEST(SystemDriver, FallsBackToLibftdiWhenNoVendorLibraryLoads) {
  Providers p;
  SystemDriver driver = p.Make(false, true);
  DWORD written = 0;
  const char byte = 'x';

  EXPECT_EQ(driver.FT_Write(nullptr, &byte, 1, &written), ft::OK);
  EXPECT_EQ(driver.Provider(), p.ftdi);
  EXPECT_EQ(p.ftdi->sent, std::vector<std::uint8_t>{'x'});
}

TEST(SystemDriver, WithoutAnyProviderFindsNoDeviceAndTriesOnlyOnce) {
  Providers p;
  SystemDriver driver = p.Make(false, false);
  FT_HANDLE h = nullptr;
  DWORD n = 0;
  std::uint8_t byte = 0;

  EXPECT_EQ(driver.FT_OpenEx("Quorvex", ft::OPEN_BY_DESCRIPTION, &h), ft::DEVICE_NOT_FOUND);
  EXPECT_EQ(h, nullptr);
  for (FT_STATUS s :
       {driver.FT_SetTimeouts(h, 100, 0), driver.FT_SetLatencyTimer(h, 2),
        driver.FT_SetUSBParameters(h, 65536, 65536), driver.FT_Purge(h, 3),
        driver.FT_Write(h, &byte, 1, &n), driver.FT_Read(h, &byte, 1, &n), driver.FT_Close(h)}) {
    EXPECT_EQ(s, ft::INVALID_HANDLE);
  }
  EXPECT_EQ(p.vendorLoads, 1);
  EXPECT_EQ(p.ftdiLoads, 1);
}

// --- The real providers, without hardware ---------------------------------------------------

TEST(VendorLibrary, LoadsOnlyALibraryWithAllEightCalls) {
  EXPECT_EQ(VendorLibrary::Load("libqvx-no-such-driver.so"), nullptr);
  // libftdi1 is there but exports none of the eight.
  EXPECT_EQ(VendorLibrary::Load(FtdiLibrary::kLibraryName), nullptr);
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
    for (FT_STATUS s : {ftdi->FT_SetTimeouts(bad, 100, 0), ftdi->FT_SetLatencyTimer(bad, 2),
                        ftdi->FT_SetUSBParameters(bad, 65536, 65536), ftdi->FT_Purge(bad, 3),
                        ftdi->FT_Write(bad, &byte, 1, &n), ftdi->FT_Read(bad, &byte, 1, &n),
                        ftdi->FT_Close(bad)}) {
      EXPECT_EQ(s, ft::INVALID_HANDLE);
    }
  }
}

}  // namespace
}  // namespace qvx::test
