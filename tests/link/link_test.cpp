#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "link/qvx_module.h"
#include "support/scripted_driver.h"

namespace qvx::test {
namespace {

using Call = ScriptedDriver::Call;
using A = ScriptedDriver::Answer;

// FtStatus values as the link leaves them.
constexpr std::int32_t kOk = QVXModule::kOk;
constexpr std::int32_t kIncomplete = QVXModule::kReadIncomplete;
constexpr auto kIoError = static_cast<std::int32_t>(ft::IO_ERROR);
constexpr auto kInvalid = static_cast<std::int32_t>(ft::INVALID_PARAMETER);

// A link over the scripted driver, with an image buffer of recognisable bytes.
struct Link {
  Link() : image(65544), link(driver, image) {
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i % 251);
  }
  ScriptedDriver driver;
  std::vector<std::uint8_t> image;
  QVXModule link;
};

TEST(OpenDevice, ConfiguresTheBoardOrLeavesTheFailedStepsStatusAndTheLinkClosed) {
  const std::vector<Call> steps{Call::OpenEx, Call::SetTimeouts, Call::SetLatency,
                                Call::SetUSBParameters};
  for (std::size_t failing = 0; failing <= steps.size(); ++failing) {
    SCOPED_TRACE(failing);
    Link l;
    if (failing < steps.size()) l.driver.Script(steps[failing], {ft::INVALID_PARAMETER});
    l.link.OpenDevice();
    std::vector<Call> expected(steps.begin(), steps.begin() + std::min(failing + 1, steps.size()));
    if (failing > 0 && failing < steps.size()) expected.push_back(Call::Close);
    EXPECT_EQ(l.driver.Kinds(), expected);
    const bool open = failing == steps.size();
    EXPECT_EQ(l.link.FtStatus, open ? kOk : kInvalid);
    EXPECT_EQ(l.link.DeviceHandle != nullptr, open);
  }
  Link l;
  l.link.OpenDevice();
  const auto& c = l.driver.calls;
  EXPECT_EQ(c[0].text, std::string("Quorvex"));
  EXPECT_EQ(c[0].a, ft::OPEN_BY_DESCRIPTION);
  EXPECT_EQ(std::vector<DWORD>({c[1].a, c[1].b, c[2].a, c[3].a, c[3].b}),
            std::vector<DWORD>({100, 0, 2, 65536, 65536}));
  // A failed close still forgets the handle; a second close calls nothing.
  l.driver.Script(Call::Close, {ft::IO_ERROR});
  l.link.CloseDevice();
  l.link.CloseDevice();
  EXPECT_EQ(l.link.DeviceHandle, nullptr);
  EXPECT_EQ(l.driver.calls.size(), 5u);
}

TEST(ExactRead, JudgesEveryReadCallTheSameForBothTargets) {
  struct Case {
    const char* name;
    std::vector<A> answers;
    std::int32_t status, total;
    bool timedOut, failed;
    std::vector<DWORD> asked;  // the count of each read call
    std::size_t stored;        // bytes the driver put into the target, counted or not
  };
  const bool T = true, F = false;
  // clang-format off
  const Case cases[] = {
      {"whole", {{ft::OK, "WXYZ"}}, kOk, 4, F, F, {4}, 4},
      {"split", {{ft::OK, "WX"}, {ft::OK, "YZ"}}, kOk, 4, F, F, {4, 2}, 4},
      {"nothing", {}, kIncomplete, 0, T, F, {4}, 0},
      {"part then nothing", {{ft::OK, "WXY"}}, kIncomplete, 3, T, F, {4, 1}, 3},
      {"error, bytes not counted", {{ft::INVALID_HANDLE, "WXY"}}, kIncomplete, 0, F, T, {4}, 3},
      {"error after part", {{ft::OK, "WX"}, {ft::DEVICE_NOT_OPENED}}, kIncomplete, 2, F, T, {4, 2}, 2},
      {"status 4 with all", {{ft::IO_ERROR, "WXYZ"}}, kIoError, 4, F, F, {4}, 4},
      {"status 4 with none", {{ft::IO_ERROR}}, kIncomplete, 0, T, F, {4}, 0},
      {"status 4 then 0", {{ft::IO_ERROR, "WX"}, {ft::OK, "YZ"}}, kOk, 4, F, F, {4, 2}, 4},
      // A driver claiming more than asked for must not move the target past its end.
      {"more than asked claimed", {{ft::OK, "WXYZ", 9u}}, kIncomplete, 0, F, T, {4}, 4},
  };
  // clang-format on
  for (const Case& c : cases) {
    for (const bool reply : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (reply ? " ReadReply" : " ReceiveBlock"));
      Link l;
      for (const A& a : c.answers) l.driver.Script(Call::Read, a);
      l.link.ReadLength = 4;
      l.link.BufferOffset = 65540;  // the block ends exactly at the end of the image
      const std::string before(l.image.begin() + 65540, l.image.end());
      reply ? l.link.ReadReply() : l.link.ReceiveBlock();

      EXPECT_EQ(std::make_pair(l.link.FtStatus, l.link.ReadTotal),
                std::make_pair(c.status, c.total));
      EXPECT_EQ(std::make_pair(l.link.ReadTimedOut, l.link.ReadFailed),
                std::make_pair(c.timedOut, c.failed));
      std::vector<DWORD> asked;
      for (const auto& r : l.driver.calls) asked.push_back(r.a);
      EXPECT_EQ(asked, c.asked);
      // Bytes that no call reached keep their earlier content.
      const std::string expected = std::string("WXYZ").substr(0, c.stored) +
                                   (reply ? std::string("    ") : before).substr(c.stored);
      const std::uint8_t* target = reply ? l.link.ReplyBuffer.data() : l.image.data() + 65540;
      EXPECT_EQ(std::string(target, target + 4), expected);
    }
  }
}

TEST(Commands, GoOutAsTheirBytesAndLeaveTheLengths) {
  struct Case {
    void (QVXModule::*command)();
    std::int32_t address, words, operand;
    std::string bytes;
    std::int32_t writeLength, readLength;  // ReadLength was 99
  };
  using M = QVXModule;
  const Case cases[] = {
      {&M::QueryDeviceInfo, 0, 512, 0, "SI", 2, 4},
      {&M::SendExecute, 0, 512, 0x07CE, std::string("EX\x07\xCE", 4), 4, 99},
      {&M::SendExecute, 0, 512, 0x042C, std::string("EX\x04\x2C", 4), 4, 99},
      {&M::ReadFlashBlock, 0x1000, 512, 0, std::string("RF\0\x10\0\x02\0", 7), 7, 2048},
      {&M::ReadFlashBlock, 0xFFFF, 1, 0, std::string("RF\0\xFF\xFF\0\x01", 7), 7, 4},
      {&M::WriteFlashBlock, 0x7C00, 512, 0, std::string("WF\0\x7C\0", 5), 2048, 99},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    Link l;
    l.link.FlashAddress = c.address;
    l.link.BlockWords = c.words;
    l.link.ExecOperand = c.operand;
    l.link.BufferOffset = 63496;
    l.link.ReadLength = 99;
    (l.link.*c.command)();
    const auto writes = l.driver.Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes[0], c.bytes);
    EXPECT_EQ(l.link.CommandText, c.bytes);
    EXPECT_EQ(std::make_pair(l.link.WriteLength, l.link.ReadLength),
              std::make_pair(c.writeLength, c.readLength));
    if (c.command == &M::WriteFlashBlock) {  // then the last block of the image, unchanged
      EXPECT_EQ(writes.back(), std::string(l.image.begin() + 63496, l.image.end()));
    }
  }
}

TEST(QueryDeviceInfo, DecodesOrKeepsTheVersions) {
  struct Case {
    A write, read;
    std::int32_t status;
    std::array<int, 4> versions;  // HwMajor, HwMinor, FwMajor, FwMinor; they were 9, 9, 9, 9
  };
  const Case cases[] = {
      {{}, {ft::OK, "KR\x21\x13"}, kOk, {2, 1, 1, 3}},
      {{}, {ft::OK, std::string("KR\xFA\0", 4)}, kOk, {15, 10, 0, 0}},
      {{}, {ft::OK, "kr\x21\x13"}, kOk, {0, 0, 9, 9}},
      {{}, {ft::OK, "Kr\x21\x13"}, kOk, {0, 0, 9, 9}},  // half a signature is none
      {{}, {ft::OK, "kR\x21\x13"}, kOk, {0, 0, 9, 9}},
      {{}, {ft::OK, "KR\x21"}, kIncomplete, {0, 0, 9, 9}},
      {{ft::IO_ERROR}, {}, kIoError, {9, 9, 9, 9}},
  };
  for (const Case& c : cases) {
    Link l;
    l.driver.Script(Call::Write, c.write);
    l.driver.Script(Call::Read, c.read);
    l.link.HwMajor = l.link.HwMinor = l.link.FwMajor = l.link.FwMinor = 9;
    l.link.QueryDeviceInfo();
    EXPECT_EQ(l.link.FtStatus, c.status);
    EXPECT_EQ((std::array<int, 4>{l.link.HwMajor, l.link.HwMinor, l.link.FwMajor, l.link.FwMinor}),
              c.versions);
  }
}

TEST(Commands, AFailedWriteStopsBeforeTheDataPhaseAndAShortOneIsAFailure) {
  Link l;
  const auto before = l.image;
  l.link.BlockWords = 512;
  l.link.ReadLength = 99;
  l.driver.Script(Call::Write, {ft::IO_ERROR});
  l.link.ReadFlashBlock();
  l.driver.Script(Call::Write, {ft::IO_ERROR});
  l.link.WriteFlashBlock();
  EXPECT_EQ(l.driver.Kinds(), std::vector<Call>({Call::Write, Call::Write}));
  EXPECT_EQ(std::make_pair(l.link.WriteLength, l.link.ReadLength), std::make_pair(5, 99));
  EXPECT_EQ(l.image, before);
  // A short write reported as success would let a partial block pass for a sent one.
  l.driver.Script(Call::Write, {ft::OK, {}, 2047u});
  l.link.WriteLength = 2048;
  l.link.SendBlock();
  EXPECT_EQ(l.link.FtStatus, kIoError);
  EXPECT_EQ(l.link.LastFailedCall->Text(),
            "FT_Write returned FT_OK but took fewer bytes than it was given");
  // The vendor's names for its statuses; one it does not document keeps its number.
  EXPECT_EQ(std::make_pair(StatusName(19), StatusName(20)),
            std::make_pair(std::string("FT_DEVICE_LIST_NOT_READY"), std::string("status 20")));
}

TEST(Commands, OutOfRangeParametersAreRefusedWithoutADriverCall) {
  struct Case {
    void (QVXModule::*operation)();
    std::int32_t address, words, offset, operand, length;
  };
  using M = QVXModule;
  const Case cases[] = {
      {&M::ReadFlashBlock, 65536, 512, 8, 0, 0}, {&M::ReadFlashBlock, 0, 0, 8, 0, 0},
      {&M::WriteFlashBlock, -1, 512, 8, 0, 0},   {&M::WriteFlashBlock, 0, 512, 63497, 0, 0},
      {&M::SendExecute, 0, 512, 8, 65536, 0},    {&M::SendCommand, 0, 512, 8, 0, 4097},
      {&M::SendBlock, 0, 512, 65540, 0, 5},      {&M::ReceiveBlock, 0, 512, -1, 0, 4},
      {&M::ReadReply, 0, 512, 8, 0, 4097},
  };
  for (const Case& c : cases) {
    Link l;
    l.link.FlashAddress = c.address;
    l.link.BlockWords = c.words;
    l.link.BufferOffset = c.offset;
    l.link.ExecOperand = c.operand;
    l.link.WriteLength = l.link.ReadLength = c.length;
    (l.link.*c.operation)();
    EXPECT_EQ(l.link.FtStatus, kInvalid);
    EXPECT_TRUE(l.driver.calls.empty());
  }
}

TEST(ReadReply, NoByteOfAnEarlierLongerReplySurvives) {
  Link l;
  l.driver.Script(Call::Read, {ft::OK, "ABCDEFG"});
  l.link.ReadLength = 7;
  l.link.ReadReply();
  l.driver.Script(Call::Read, {ft::OK, "KR"});
  l.link.ReadLength = 4;
  l.link.ReadReply();
  EXPECT_EQ(std::string(l.link.ReplyBuffer.begin(), l.link.ReplyBuffer.begin() + 8), "KR      ");
  QVXModule::PutText(l.link.SendBuffer, std::string(5000, 'x'));
  EXPECT_EQ(std::count(l.link.SendBuffer.begin(), l.link.SendBuffer.end(), 'x'), 4096);
}

}  // namespace
}  // namespace qvx::test
