#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "board/board_protocol.h"
#include "link/ftdi_library.h"
#include "usb/board_peer.h"
#include "usb/usb_testbed.h"

namespace qvx::usbemu::test {

// A testbed on which the board's protocol sits behind an emulated chip, and the libftdi1
// provider that reaches it through libusb. Skips, saying why, where no testbed can run.
class UsbPathTest : public testing::Test {
 protected:
  void SetUp() override {
    if (auto why = UsbTestbed::Unavailable()) GTEST_SKIP() << "USB testbed unavailable: " << *why;
    testbed = std::make_unique<UsbTestbed>();
    driver = FtdiLibrary::Load();
    ASSERT_NE(driver, nullptr) << "libftdi1 does not load";
  }

  // The board's chip; the board is touched afterwards only inside Inspect.
  UsbDevice& PlugBoard(ChipIdentity identity = {}) {
    return testbed->Plug(std::move(identity), BoardPeer(board));
  }

  // A chip with nothing behind its UART.
  UsbDevice& PlugOther(ChipIdentity identity, bool openable = true) {
    return testbed->Plug(
        std::move(identity), [](std::span<const std::uint8_t>) { return PeerAnswer{}; }, openable);
  }

  // Declared in this order so that the driver lets go of the bus before the testbed goes, and
  // the testbed stops serving before the board goes.
  board::BoardProtocol board;
  std::unique_ptr<UsbTestbed> testbed;
  std::unique_ptr<D2xx> driver;
};

}  // namespace qvx::usbemu::test
