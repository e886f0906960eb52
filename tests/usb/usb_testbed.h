#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "usb/ftdi_chip.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;
typedef struct _GSource GSource;
typedef int gboolean;
typedef void* gpointer;

namespace qvx::usbemu {

// One emulated device on the testbed's bus: a chip behind the usbdevfs requests that libusb
// makes. The requests are served on umockdev's worker thread; a test reaches the chip only
// through Inspect, which keeps that thread out meanwhile.
class UsbDevice {
 public:
  UsbDevice(FtdiChip chip, std::string devnode, std::string syspath);
  ~UsbDevice();
  UsbDevice(const UsbDevice&) = delete;
  UsbDevice& operator=(const UsbDevice&) = delete;

  template <typename F>
  decltype(auto) Inspect(F&& f) {
    std::lock_guard lock(mutex_);
    return f(chip_);
  }

  const std::string& Devnode() const { return devnode_; }
  const std::string& Syspath() const { return syspath_; }

  // Called on the worker thread for every request on the device node.
  bool Serve(UMockdevIoctlClient* client);
  // The device is gone: transfers in flight end with "no device", new requests fail.
  void Disconnect();

 private:
  void Claim(UMockdevIoctlClient* client);
  void Submit(UMockdevIoctlClient* client);
  void Reap(UMockdevIoctlClient* client);
  void Discard(UMockdevIoctlClient* client);
  UMockdevIoctlData* NextCompleted(UMockdevIoctlClient* client);
  void Answer(UMockdevIoctlClient* client, UMockdevIoctlData* urb);
  void Hold(UMockdevIoctlClient* client);
  static gboolean WakeHeld(gpointer device);
  void Finish(UMockdevIoctlData* urb, int status, int actualLength);

  std::mutex mutex_;
  FtdiChip chip_;
  std::string devnode_;
  std::string syspath_;
  std::deque<UMockdevIoctlData*> waitingIn_;  // bulk IN transfers the chip has not filled yet
  // Bulk OUT transfers, done once their bytes are through the UART.
  std::deque<std::pair<FtdiChip::Clock::time_point, UMockdevIoctlData*>> sendingOut_;
  std::deque<UMockdevIoctlData*> completed_;  // done, each for its own client to reap
  UMockdevIoctlClient* owner_ = nullptr;      // the open file that claimed the interface
  // A reap that found nothing waits, as the kernel's poll would, until a transfer completes.
  UMockdevIoctlClient* heldReap_ = nullptr;
  GSource* wake_ = nullptr;
  bool gone_ = false;
};

// A umockdev testbed holding emulated FTDI chips, seen by libusb (and so libftdi1) in this
// process through umockdev's preload library. Devices sit on bus 77, which no real host
// controller uses, so nothing here can reach a real device node.
class UsbTestbed {
 public:
  // Why this process cannot host a testbed, or nothing when it can.
  static std::optional<std::string> Unavailable();

  UsbTestbed();
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  // Plugs in a chip. An unopenable one is listed on the bus but its node cannot be opened.
  UsbDevice& Plug(ChipIdentity identity, UartPeer peer, bool openable = true);
  // Pulls the device out: the host sees the removal and every later request fails.
  void Unplug(UsbDevice& device);

 private:
  UMockdevTestbed* testbed_;
  std::deque<std::unique_ptr<UsbDevice>> devices_;
  std::deque<UMockdevIoctlBase*> handlers_;
  int nextAddress_ = 2;
};

}  // namespace qvx::usbemu
