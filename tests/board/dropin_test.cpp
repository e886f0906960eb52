#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The vendor's ABI, as a program that loads the library by name sees it.
using Status = std::uint32_t;
using OpenEx = Status (*)(void*, std::uint32_t, void**);
using Transfer = Status (*)(void*, void*, std::uint32_t, std::uint32_t*);  // write and read
using Close = Status (*)(void*);

template <typename F>
F Symbol(void* library, const char* name) {
  return reinterpret_cast<F>(dlsym(library, name));
}

TEST(DropIn, LoadsExportsTheEightCallsAndPlaysTheBoard) {
  const std::string flashOut = ::testing::TempDir() + "dropin_flash.bin";
  setenv("QVX_BOARD_TIMING", "off", 1);
  setenv("QVX_BOARD_FIRMWARE", "0x13", 1);
  setenv("QVX_BOARD_FLASH_OUT", flashOut.c_str(), 1);

  void* library = dlopen(QVX_DROPIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name : {"FT_OpenEx", "FT_SetTimeouts", "FT_SetLatencyTimer",
                           "FT_SetUSBParameters", "FT_Purge", "FT_Write", "FT_Read", "FT_Close"}) {
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  }
  EXPECT_EQ(dlsym(library, "_ZN3qvx5board12VirtualBoardC1Ev"), nullptr) << "internals leak";

  char description[] = "Quorvex";
  void* handle = nullptr;
  ASSERT_EQ(Symbol<OpenEx>(library, "FT_OpenEx")(description, 2, &handle), 0u);
  char si[] = "SI";
  std::uint32_t count = 0;
  ASSERT_EQ(Symbol<Transfer>(library, "FT_Write")(handle, si, 2, &count), 0u);
  std::uint8_t reply[4] = {};
  ASSERT_EQ(Symbol<Transfer>(library, "FT_Read")(handle, reply, 4, &count), 0u);
  EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + 4),
            (std::vector<std::uint8_t>{'K', 'R', 0x21, 0x13}));
  ASSERT_EQ(Symbol<Close>(library, "FT_Close")(handle), 0u);

  std::ifstream dump(flashOut, std::ios::binary);
  const std::vector<char> flash{std::istreambuf_iterator<char>(dump), {}};
  EXPECT_EQ(flash.size(), 65536u);
  EXPECT_EQ(static_cast<unsigned char>(flash.front()), 0xFF);
  std::remove(flashOut.c_str());
  dlclose(library);
}

}  // namespace
