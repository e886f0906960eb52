#include <gtest/gtest.h>

#include "link/ftdi_library.h"
#include "link/system_driver.h"
#include "link/vendor_library.h"
#include "support/d2xx_calls.h"
#include "support/scripted_driver.h"

namespace qvx::test {
namespace {

TEST(SystemDriver, TakesTheFirstProviderThatLoadsAndTriesOnlyOnce) {
  for (const bool vendorThere : {true, false}) {
    for (const bool ftdiThere : {true, false}) {
      std::vector<ScriptedDriver*> made;  // one entry per load tried, null when none loaded
      auto loader = [&made](bool there) {
        return [&made, there]() -> std::unique_ptr<D2xx> {
          made.push_back(there ? new ScriptedDriver : nullptr);
          return std::unique_ptr<D2xx>(made.back());
        };
      };
      SystemDriver driver({loader(vendorThere), loader(ftdiThere)});
      EXPECT_TRUE(made.empty());  // nothing loads before the first call

      FT_HANDLE h = nullptr;
      const FT_STATUS open = driver.FT_OpenEx("Quorvex", ft::OPEN_BY_DESCRIPTION, &h);
      const std::vector<FT_STATUS> rest = EveryCallButOpen(driver, h);
      EXPECT_EQ(made.size(), vendorThere ? 1u : 2u);
      if (vendorThere || ftdiThere) {
        EXPECT_EQ(driver.Provider(), made.back());
        EXPECT_EQ(made.back()->calls.size(), 8u);
      } else {
        EXPECT_EQ(open, ft::DEVICE_NOT_FOUND);
        EXPECT_EQ(rest, std::vector<FT_STATUS>(7, ft::INVALID_HANDLE));
      }
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
  for (FT_HANDLE bad : {FT_HANDLE{nullptr}, FT_HANDLE{&notOurs}}) {
    EXPECT_EQ(EveryCallButOpen(*ftdi, bad), std::vector<FT_STATUS>(7, ft::INVALID_HANDLE));
  }
}

}  // namespace
}  // namespace qvx::test
