#include <gtest/gtest.h>

#include "usb/usb_preload.h"

int main(int argc, char** argv) {
  qvx::usbemu::EnterPreload(argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
