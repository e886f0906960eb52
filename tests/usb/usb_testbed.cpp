#include "usb/usb_testbed.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace qvx::usbemu {
namespace {

constexpr int kBus = 77;

// What usbdevfs reports it can do; libusb then hands over each bulk transfer as one URB.
constexpr std::uint32_t kCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
    USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

usbdevfs_urb* UrbOf(UMockdevIoctlData* data) {
  return reinterpret_cast<usbdevfs_urb*>(data->data);
}

std::uint8_t* BufferOf(UMockdevIoctlData* data) {
  return static_cast<std::uint8_t*>(UrbOf(data)->buffer);
}

// Resolves a pointer inside client memory; the local copy is written back on completion.
UMockdevIoctlData* Resolve(UMockdevIoctlData* parent, std::size_t offset, std::size_t length) {
  GError* error = nullptr;
  UMockdevIoctlData* data = umockdev_ioctl_data_resolve(parent, offset, length, &error);
  if (error != nullptr) {
    std::fprintf(stderr, "usb testbed: cannot reach client memory: %s\n", error->message);
    g_error_free(error);
    return nullptr;
  }
  return data;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  char two[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

// Which open file submitted a URB; only compared, never followed.
constexpr char kClientKey[] = "qvx-client";

UMockdevIoctlClient* ClientOf(UMockdevIoctlData* urb) {
  return static_cast<UMockdevIoctlClient*>(g_object_get_data(G_OBJECT(urb), kClientKey));
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer device) {
  return static_cast<UsbDevice*>(device)->Serve(client) ? TRUE : FALSE;
}

}  // namespace

UsbDevice::UsbDevice(FtdiChip chip, std::string devnode, std::string syspath)
    : chip_(std::move(chip)), devnode_(std::move(devnode)), syspath_(std::move(syspath)) {}

UsbDevice::~UsbDevice() {
  if (wake_ != nullptr) {
    g_source_destroy(wake_);
    g_source_unref(wake_);
  }
  if (heldReap_ != nullptr) g_object_unref(heldReap_);
  if (owner_ != nullptr) g_object_unref(owner_);
  for (auto* urb : waitingIn_) g_object_unref(urb);
  for (auto& [time, urb] : sendingOut_) g_object_unref(urb);
  for (auto* urb : completed_) g_object_unref(urb);
}

bool UsbDevice::Serve(UMockdevIoctlClient* client) {
  std::lock_guard lock(mutex_);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      UMockdevIoctlData* caps =
          Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(std::uint32_t));
      if (caps == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return true;
      }
      std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
      g_object_unref(caps);
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
      Claim(client);
      return true;
    case USBDEVFS_RELEASEINTERFACE:
      if (owner_ == client) {
        g_object_unref(owner_);
        owner_ = nullptr;
      }
      umockdev_ioctl_client_complete(client, gone_ ? -1 : 0, gone_ ? ENODEV : 0);
      return true;
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
      if (gone_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
      } else {
        umockdev_ioctl_client_complete(client, 0, 0);
      }
      return true;
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
      // No kernel driver is bound, so there is none to name or detach.
      umockdev_ioctl_client_complete(client, -1, ENODATA);
      return true;
    case USBDEVFS_SUBMITURB:
      Submit(client);
      return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      Reap(client);
      return true;
    case USBDEVFS_DISCARDURB:
      Discard(client);
      return true;
    default:
      umockdev_ioctl_client_complete(client, -1, ENOTTY);
      return true;
  }
}

// Like the kernel, one open file at a time may hold the interface; a closed one lets go.
void UsbDevice::Claim(UMockdevIoctlClient* client) {
  if (gone_) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return;
  }
  if (owner_ != nullptr && owner_ != client && umockdev_ioctl_client_get_connected(owner_)) {
    umockdev_ioctl_client_complete(client, -1, EBUSY);
    return;
  }
  if (owner_ != client) {
    if (owner_ != nullptr) g_object_unref(owner_);
    owner_ = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
  }
  umockdev_ioctl_client_complete(client, 0, 0);
}

void UsbDevice::Submit(UMockdevIoctlClient* client) {
  if (gone_) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return;
  }
  UMockdevIoctlData* urbData =
      Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb));
  if (urbData == nullptr) {
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  g_object_set_data(G_OBJECT(urbData), kClientKey, client);
  usbdevfs_urb* urb = UrbOf(urbData);
  const auto length = static_cast<std::size_t>(std::max(urb->buffer_length, 0));
  // An IN buffer is fetched only when data goes into it, and only as much as goes in.
  const bool in = urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == FtdiChip::kEndpointIn;
  if (!in && length > 0) {
    UMockdevIoctlData* buffer = Resolve(urbData, offsetof(usbdevfs_urb, buffer), length);
    if (buffer == nullptr) {
      g_object_unref(urbData);
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return;
    }
    g_object_unref(buffer);  // its parent keeps it
  }

  if (urb->type == USBDEVFS_URB_TYPE_CONTROL && length >= 8) {
    const Setup setup = Setup::Parse(std::span<const std::uint8_t, 8>(BufferOf(urbData), 8));
    const auto reply = chip_.Control(setup);
    completed_.push_back(urbData);
    if (!reply) {
      Finish(urbData, -EPIPE, 0);
    } else if (setup.requestType & 0x80) {
      const std::size_t n = std::min(reply->size(), length - 8);
      std::copy_n(reply->begin(), n, BufferOf(urbData) + 8);
      Finish(urbData, 0, static_cast<int>(n));
    } else {
      Finish(urbData, 0, static_cast<int>(length - 8));
    }
  } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == FtdiChip::kEndpointOut) {
    const auto through = chip_.BulkOut(std::span<const std::uint8_t>(BufferOf(urbData), length),
                                       FtdiChip::Clock::now());
    Finish(urbData, 0, static_cast<int>(length));
    sendingOut_.emplace_back(through, urbData);
  } else if (in) {
    waitingIn_.push_back(urbData);
  } else {
    g_object_unref(urbData);
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return;
  }
  umockdev_ioctl_client_complete(client, 0, 0);
}

void UsbDevice::Finish(UMockdevIoctlData* urb, int status, int actualLength) {
  UrbOf(urb)->status = status;
  UrbOf(urb)->actual_length = actualLength;
}

// The next of this client's transfers that is done. Bulk IN data go to the transfer first in
// line on the endpoint, and only while its own client asks: its memory is reachable only then.
UMockdevIoctlData* UsbDevice::NextCompleted(UMockdevIoctlClient* client) {
  const auto now = FtdiChip::Clock::now();
  while (!sendingOut_.empty() && sendingOut_.front().first <= now) {
    completed_.push_back(sendingOut_.front().second);
    sendingOut_.pop_front();
  }
  auto mine = std::find_if(completed_.begin(), completed_.end(),
                           [&](UMockdevIoctlData* urb) { return ClientOf(urb) == client; });
  if (mine != completed_.end()) {
    UMockdevIoctlData* urb = *mine;
    completed_.erase(mine);
    return urb;
  }
  if (waitingIn_.empty() || ClientOf(waitingIn_.front()) != client) return nullptr;
  UMockdevIoctlData* urb = waitingIn_.front();
  const auto capacity = static_cast<std::size_t>(UrbOf(urb)->buffer_length);
  auto transfer = chip_.BulkIn(capacity, now);
  if (!transfer) return nullptr;
  waitingIn_.pop_front();
  UMockdevIoctlData* buffer = Resolve(urb, offsetof(usbdevfs_urb, buffer), transfer->size());
  if (buffer == nullptr) {
    Finish(urb, -EFAULT, 0);
  } else {
    std::copy(transfer->begin(), transfer->end(), buffer->data);
    g_object_unref(buffer);
    Finish(urb, 0, static_cast<int>(transfer->size()));
  }
  return urb;
}

void UsbDevice::Reap(UMockdevIoctlClient* client) {
  UMockdevIoctlData* urb = NextCompleted(client);
  // One reap waits at a time; another open file of the device is answered at once.
  if (urb == nullptr && !gone_ && heldReap_ == nullptr &&
      (!waitingIn_.empty() || !sendingOut_.empty())) {
    Hold(client);
    return;
  }
  Answer(client, urb);
}

// Hands the client a completed URB, or tells it there is none.
void UsbDevice::Answer(UMockdevIoctlClient* client, UMockdevIoctlData* urb) {
  if (urb == nullptr) {
    umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
    return;
  }
  UMockdevIoctlData* slot = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*));
  if (slot == nullptr) {
    g_object_unref(urb);
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  umockdev_ioctl_data_set_ptr(slot, 0, urb);
  g_object_unref(slot);
  g_object_unref(urb);
  umockdev_ioctl_client_complete(client, 0, 0);
}

// The client asks again as soon as it is told "nothing yet", so rather than let it spin, the
// answer waits for the moment the chip completes something (a few milliseconds at most).
void UsbDevice::Hold(UMockdevIoctlClient* client) {
  auto due = FtdiChip::Clock::now() + std::chrono::milliseconds(5);
  if (!sendingOut_.empty()) due = std::min(due, sendingOut_.front().first);
  if (!waitingIn_.empty()) {
    const auto capacity = static_cast<std::size_t>(UrbOf(waitingIn_.front())->buffer_length);
    due = std::min(due, chip_.BulkInDue(capacity));
  }
  const auto wait =
      std::chrono::duration_cast<std::chrono::microseconds>(due - FtdiChip::Clock::now());
  heldReap_ = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
  static GSourceFuncs funcs{
      nullptr,
      nullptr,
      [](GSource*, GSourceFunc callback, gpointer data) -> gboolean { return callback(data); },
      nullptr,
      nullptr,
      nullptr};
  wake_ = g_source_new(&funcs, sizeof(GSource));
  g_source_set_callback(wake_, &UsbDevice::WakeHeld, this, nullptr);
  g_source_set_ready_time(wake_, g_get_monotonic_time() + std::max<gint64>(0, wait.count()));
  g_source_attach(wake_, g_main_context_get_thread_default());
}

gboolean UsbDevice::WakeHeld(gpointer self) {
  auto* device = static_cast<UsbDevice*>(self);
  std::lock_guard lock(device->mutex_);
  UMockdevIoctlClient* client = std::exchange(device->heldReap_, nullptr);
  device->Answer(client, device->NextCompleted(client));
  g_object_unref(client);
  g_source_unref(std::exchange(device->wake_, nullptr));
  return G_SOURCE_REMOVE;
}

void UsbDevice::Discard(UMockdevIoctlClient* client) {
  // The argument is the URB's own address in the client.
  const auto address =
      *reinterpret_cast<const unsigned long*>(umockdev_ioctl_client_get_arg(client)->data);
  auto ours = [&](UMockdevIoctlData* urb) { return urb->client_addr == address; };
  UMockdevIoctlData* found = nullptr;
  if (auto it = std::find_if(waitingIn_.begin(), waitingIn_.end(), ours); it != waitingIn_.end()) {
    found = *it;
    waitingIn_.erase(it);
  } else if (auto out = std::find_if(sendingOut_.begin(), sendingOut_.end(),
                                     [&](const auto& entry) { return ours(entry.second); });
             out != sendingOut_.end()) {
    found = out->second;
    sendingOut_.erase(out);
  }
  if (found == nullptr) {
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return;
  }
  Finish(found, -ENOENT, 0);
  completed_.push_back(found);
  umockdev_ioctl_client_complete(client, 0, 0);
}

void UsbDevice::Disconnect() {
  std::lock_guard lock(mutex_);
  gone_ = true;
  for (auto* urb : waitingIn_) {
    Finish(urb, -ENODEV, 0);
    completed_.push_back(urb);
  }
  for (auto& [time, urb] : sendingOut_) {
    Finish(urb, -ENODEV, 0);
    completed_.push_back(urb);
  }
  waitingIn_.clear();
  sendingOut_.clear();
  if (wake_ != nullptr) g_source_set_ready_time(wake_, 0);  // answer the held reap at once
}

std::optional<std::string> UsbTestbed::Unavailable() {
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
    return "not running under umockdev's preload library (package umockdev missing?)";
  }
  return std::nullopt;
}

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {
  if (testbed_ == nullptr) throw std::runtime_error("umockdev cannot create a testbed");
}

UsbTestbed::~UsbTestbed() {
  for (const auto& device : devices_) {
    umockdev_testbed_detach_ioctl(testbed_, device->Devnode().c_str(), nullptr);
  }
  g_object_unref(testbed_);
  for (auto* handler : handlers_) g_object_unref(handler);
}

UsbDevice& UsbTestbed::Plug(ChipIdentity identity, UartPeer peer, bool openable) {
  const int address = nextAddress_++;
  char node[32];
  std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", kBus, address);
  const std::string devnode = std::string("/dev/") + node;
  const std::string devpath = "/devices/qvx-hc/usb" + std::to_string(kBus) + "/" +
                              std::to_string(kBus) + "-" + std::to_string(address);

  FtdiChip chip(std::move(identity), std::move(peer));
  const ChipIdentity& id = chip.Identity();
  char ids[64];
  std::snprintf(ids, sizeof ids, "E: PRODUCT=403/%x/%x\n", id.productId, id.release);
  std::string record = "P: " + devpath + "\n";
  // Without a node the device is listed but every open of it fails.
  if (openable) record += std::string("N: ") + node + "\n";
  record += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n";
  record += "E: DEVNAME=" + devnode + "\n";
  record += "E: BUSNUM=" + std::to_string(kBus) + "\nE: DEVNUM=" + std::to_string(address) + "\n";
  record += ids;
  record += "A: busnum=" + std::to_string(kBus) + "\\n\n";
  record += "A: devnum=" + std::to_string(address) + "\\n\n";
  record += "A: speed=12\\n\nA: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\n";
  record += "A: manufacturer=" + id.manufacturer + "\\n\n";
  record += "A: product=" + id.description + "\\n\n";
  record += "A: serial=" + id.serial + "\\n\n";
  record += "H: descriptors=" + Hex(chip.Descriptors()) + "\n";

  auto& device = *devices_.emplace_back(
      std::make_unique<UsbDevice>(std::move(chip), devnode, "/sys" + devpath));
  if (openable) {
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    handlers_.push_back(handler);
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), &device);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, devnode.c_str(), handler, &error)) {
      std::string why = error != nullptr ? error->message : "unknown error";
      if (error != nullptr) g_error_free(error);
      throw std::runtime_error("umockdev cannot serve " + devnode + ": " + why);
    }
  }
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
    std::string why = error != nullptr ? error->message : "unknown error";
    if (error != nullptr) g_error_free(error);
    throw std::runtime_error("umockdev rejects the device record: " + why);
  }
  return device;
}

void UsbTestbed::Unplug(UsbDevice& device) {
  device.Disconnect();
  umockdev_testbed_uevent(testbed_, device.Syspath().c_str(), "remove");
  umockdev_testbed_remove_device(testbed_, device.Syspath().c_str());
}

}  // namespace qvx::usbemu
