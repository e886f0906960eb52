// The libftdi1 provider's eight calls over real libftdi1 and libusb, against the emulated chip.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "link/qvx_module.h"
#include "usb/usb_fixture.h"

namespace qvx::usbemu::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const ChipIdentity kOtherUart{0x6001, 0x0600, "FTDI", "FT232R USB UART", "A10"};
constexpr std::uint8_t kHardware = 0x21;
constexpr std::uint8_t kFirmware = 0x11;

class FtdiLibraryUsbTest : public UsbPathTest {
 protected:
  // Opens "Quorvex" and configures it as the link does.
  FT_HANDLE OpenBoard() {
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(driver->FT_OpenEx("Quorvex", ft::OPEN_BY_DESCRIPTION, &handle), ft::OK);
    if (handle == nullptr) return nullptr;
    EXPECT_EQ(driver->FT_SetTimeouts(handle, 100, 0), ft::OK);
    EXPECT_EQ(driver->FT_SetLatencyTimer(handle, 2), ft::OK);
    EXPECT_EQ(driver->FT_SetUSBParameters(handle, 65536, 65536), ft::OK);
    return handle;
  }

  FT_STATUS Write(FT_HANDLE handle, const std::vector<std::uint8_t>& bytes) {
    DWORD written = 0;
    const FT_STATUS status =
        driver->FT_Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written);
    if (status == ft::OK) {
      EXPECT_EQ(written, bytes.size());
    }
    return status;
  }

  struct ReadResult {
    FT_STATUS status;
    std::vector<std::uint8_t> bytes;
    Clock::duration took;
  };
  ReadResult Read(FT_HANDLE handle, DWORD count) {
    std::vector<std::uint8_t> bytes(count, 0xEE);
    DWORD got = 0xFFFF;
    const auto start = Clock::now();
    const FT_STATUS status = driver->FT_Read(handle, bytes.data(), count, &got);
    const auto took = Clock::now() - start;
    bytes.resize(std::min<DWORD>(got, count));
    return {status, bytes, took};
  }

  // "RF" for `words` words from flash address `address`.
  static std::vector<std::uint8_t> ReadFlash(int address, int words) {
    return {'R',
            'F',
            0,
            static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address & 0xFF),
            static_cast<std::uint8_t>(words >> 8),
            static_cast<std::uint8_t>(words & 0xFF)};
  }

  void FillFlash() {
    auto& flash = board.Flash();
    for (std::size_t i = 0; i < flash.size(); ++i) {
      flash[i] = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
    }
  }
  std::vector<std::uint8_t> FlashBytes(int address, int words) {
    const auto first = board.Flash().begin() + 2 * address;
    return {first, first + 4 * words};
  }
};

const std::vector<std::uint8_t> kQueryInfo{'S', 'I'};
const std::vector<std::uint8_t> kInfoReply{'K', 'R', kHardware, kFirmware};

TEST_F(FtdiLibraryUsbTest, OpensTheBoardByDescriptionAmongOtherFtdiDevices) {
  board.SetVersions(kHardware, kFirmware);
  auto& quorvex = PlugBoard({0x6015, 0x1000, "FTDI", "Quorvex", "QV1"});  // an FT-X part
  // An unopenable "Quorvex" on the commonest product id, met before the board in most searches.
  PlugOther({0x6001, 0x0600, "FTDI", "Quorvex", "QV0"}, /*openable=*/false);
  PlugOther(kOtherUart);
  PlugOther({0x6014, 0x0900, "FTDI", "Quorvex Pro", "QV2"});
  PlugOther({0x6001, 0x0600, "FTDI", "Quorve", "QV3"});

  FT_HANDLE handle = OpenBoard();
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(Write(handle, kQueryInfo), ft::OK);
  const auto reply = Read(handle, 4);
  EXPECT_EQ(reply.status, ft::OK);
  EXPECT_EQ(reply.bytes, kInfoReply);
  EXPECT_EQ(quorvex.Inspect([](FtdiChip& chip) { return chip.LatencyMs(); }), 2);
  EXPECT_EQ(driver->FT_Close(handle), ft::OK);
}

TEST_F(FtdiLibraryUsbTest, FindsNoBoardWhereNoneCanBeOpened) {
  struct Case {
    const char* name;
    std::vector<std::pair<ChipIdentity, bool>> devices;  // identity, openable
    FT_STATUS expected;
  };
  const std::vector<Case> cases = {
      {"empty bus", {}, ft::DEVICE_NOT_FOUND},
      {"other descriptions",
       {{kOtherUart, true},
        {{0x6001, 0x0600, "FTDI", "quorvex", "Q1"}, true},
        {{0x6010, 0x0700, "FTDI", "Quorvex A", "Q2"}, true}},
       ft::DEVICE_NOT_FOUND},
      {"an unknown product id",
       {{{0x6006, 0x0600, "FTDI", "Quorvex", "Q3"}, true}},
       ft::DEVICE_NOT_FOUND},
      {"only unopenable",
       {{{0x6001, 0x0600, "FTDI", "Quorvex", "Q4"}, false}},
       ft::DEVICE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testbed.reset();  // one testbed at a time: it owns the process's view of /sys and /dev
    testbed = std::make_unique<UsbTestbed>();
    for (const auto& [identity, openable] : c.devices) PlugOther(identity, openable);
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(driver->FT_OpenEx("Quorvex", ft::OPEN_BY_DESCRIPTION, &handle), c.expected);
    EXPECT_EQ(handle, nullptr);
  }
}

TEST_F(FtdiLibraryUsbTest, ABoardInUseCannotBeOpenedAgainUntilClosed) {
  PlugBoard();
  FT_HANDLE first = OpenBoard();
  ASSERT_NE(first, nullptr);
  FT_HANDLE second = nullptr;
  EXPECT_EQ(driver->FT_OpenEx("Quorvex", ft::OPEN_BY_DESCRIPTION, &second), ft::DEVICE_NOT_OPENED);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(driver->FT_Close(first), ft::OK);
  EXPECT_EQ(driver->FT_OpenEx("Quorvex", ft::OPEN_BY_DESCRIPTION, &second), ft::OK);
  EXPECT_NE(second, nullptr);
}

// A read that gets nothing, or only part, returns with what it has at the read timeout.
TEST_F(FtdiLibraryUsbTest, ReadsEndAtTheReadTimeoutWithWhatArrived) {
  board.SetVersions(kHardware, kFirmware);
  PlugBoard();
  FT_HANDLE handle = OpenBoard();
  ASSERT_NE(handle, nullptr);
  struct Case {
    DWORD timeoutMs;
    bool ask;  // send "SI" first: 4 of the 8 bytes asked for arrive
  };
  for (const Case c : {Case{100, false}, Case{100, true}, Case{30, false}, Case{30, true}}) {
    SCOPED_TRACE(testing::Message() << c.timeoutMs << " ms, asked: " << c.ask);
    ASSERT_EQ(driver->FT_SetTimeouts(handle, c.timeoutMs, 0), ft::OK);
    if (c.ask) {
      ASSERT_EQ(Write(handle, kQueryInfo), ft::OK);
    }
    const auto result = Read(handle, 8);
    EXPECT_EQ(result.status, ft::OK);
    EXPECT_EQ(result.bytes, c.ask ? kInfoReply : std::vector<std::uint8_t>{});
    EXPECT_GE(result.took, milliseconds(c.timeoutMs) - milliseconds(1));
    EXPECT_LT(result.took, milliseconds(c.timeoutMs) + milliseconds(1500));
  }
}

// Replies of every size around the 62 data bytes a packet carries, read exactly by the link.
TEST_F(FtdiLibraryUsbTest, ExactReadsCollectEveryByteAcrossPacketBoundaries) {
  FillFlash();
  PlugBoard();
  std::vector<std::uint8_t> image(65544, 0);
  QVXModule link(*driver, image);
  link.OpenDevice();
  ASSERT_EQ(link.FtStatus, 0);
  for (const int words : {1, 15, 16, 31, 32, 62, 512}) {
    SCOPED_TRACE(testing::Message() << words << " words");
    std::fill(image.begin(), image.end(), 0);
    link.FlashAddress = 0x1234;
    link.BlockWords = words;
    link.BufferOffset = 100;
    link.ReadFlashBlock();
    EXPECT_EQ(link.FtStatus, 0);
    EXPECT_EQ(link.ReadTotal, 4 * words);
    const std::vector<std::uint8_t> got(image.begin() + 100, image.begin() + 100 + 4 * words);
    EXPECT_EQ(got, FlashBytes(0x1234, words));
    EXPECT_EQ(image[static_cast<std::size_t>(100 + 4 * words)], 0);
  }
  link.CloseDevice();
}

// A board behind a slow UART: its reply trickles in over many packets and transfers, and the
// link's exact read still collects it whole; one that asks for more than comes keeps the part.
TEST_F(FtdiLibraryUsbTest, ASlowReplyIsCollectedOverManyPackets) {
  FillFlash();
  board.SetVersions(kHardware, kFirmware);
  auto& chip = PlugBoard();
  chip.Inspect([](FtdiChip& c) { c.SetUartBytesPerSecond(2000); });  // a byte every 0.5 ms
  std::vector<std::uint8_t> image(65544, 0);
  QVXModule link(*driver, image);
  link.OpenDevice();
  ASSERT_EQ(link.FtStatus, 0);

  link.FlashAddress = 0x40;
  link.BlockWords = 100;  // 400 bytes: 200 ms through the UART, twice the read timeout
  link.BufferOffset = 8;
  const auto start = Clock::now();
  link.ReadFlashBlock();
  EXPECT_GE(Clock::now() - start, milliseconds(190));
  EXPECT_EQ(link.FtStatus, 0);
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 8, image.begin() + 408),
            FlashBytes(0x40, 100));

  link.PutText(link.SendBuffer, "SI");
  link.WriteLength = 2;
  link.SendCommand();
  link.ReadLength = 6;
  link.ReadReply();
  EXPECT_EQ(link.FtStatus, QVXModule::kReadIncomplete);
  EXPECT_TRUE(link.ReadTimedOut);
  EXPECT_EQ(link.ReadTotal, 4);
  EXPECT_EQ(std::vector<std::uint8_t>(link.ReplyBuffer.begin(), link.ReplyBuffer.begin() + 6),
            (std::vector<std::uint8_t>{'K', 'R', kHardware, kFirmware, ' ', ' '}));
  link.CloseDevice();
}

TEST_F(FtdiLibraryUsbTest, PurgeDropsWhatTheChipAndLibftdiStillHold) {
  FillFlash();
  auto& chip = PlugBoard();
  FT_HANDLE handle = OpenBoard();
  ASSERT_NE(handle, nullptr);
  const int flushesBefore = chip.Inspect([](FtdiChip& c) { return c.HostBoundFlushes(); });

  // A 100-byte reply of which 4 are read: the rest waits in libftdi1's own buffer.
  ASSERT_EQ(Write(handle, ReadFlash(0, 25)), ft::OK);
  EXPECT_EQ(Read(handle, 4).bytes.size(), 4u);
  EXPECT_EQ(driver->FT_Purge(handle, ft::PURGE_RX | ft::PURGE_TX), ft::OK);
  EXPECT_EQ(Read(handle, 4).bytes, std::vector<std::uint8_t>{});

  // A reply still in the chip.
  ASSERT_EQ(Write(handle, ReadFlash(0, 25)), ft::OK);
  EXPECT_EQ(driver->FT_Purge(handle, ft::PURGE_RX | ft::PURGE_TX), ft::OK);
  EXPECT_EQ(Read(handle, 4).bytes, std::vector<std::uint8_t>{});
  EXPECT_EQ(chip.Inspect([](FtdiChip& c) { return c.HostBoundFlushes(); }), flushesBefore + 2);
}

TEST_F(FtdiLibraryUsbTest, AnUnpluggedBoardGivesTheIoErrorStatus) {
  auto& chip = PlugBoard();
  FT_HANDLE handle = OpenBoard();
  ASSERT_NE(handle, nullptr);
  testbed->Unplug(chip);
  EXPECT_EQ(Write(handle, kQueryInfo), ft::IO_ERROR);
  EXPECT_EQ(Read(handle, 4).status, ft::IO_ERROR);
  EXPECT_NE(driver->FT_Purge(handle, ft::PURGE_RX | ft::PURGE_TX), ft::OK);
  driver->FT_Close(handle);
}

TEST_F(FtdiLibraryUsbTest, UnpluggingDuringAReadEndsItWithTheIoErrorStatus) {
  auto& chip = PlugBoard();
  FT_HANDLE handle = OpenBoard();
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(driver->FT_SetTimeouts(handle, 1000, 0), ft::OK);
  std::thread puller([&] {
    std::this_thread::sleep_for(milliseconds(50));
    testbed->Unplug(chip);
  });
  const auto result = Read(handle, 4);
  puller.join();
  EXPECT_EQ(result.status, ft::IO_ERROR);
  EXPECT_LT(result.took, milliseconds(900));
  driver->FT_Close(handle);
}

}  // namespace
}  // namespace qvx::usbemu::test
