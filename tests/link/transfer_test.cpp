#include <algorithm>
#include <utility>

#include "link_fixture.h"

namespace qvx::test {
namespace {

TEST_F(LinkTest, OpenConfiguresTheBoardFoundByDescription) {
  link.OpenDevice();
  EXPECT_EQ(link.FtStatus, 0);
  EXPECT_EQ(link.DeviceHandle, driver.handleToGive);
  std::vector<std::pair<DWORD, DWORD>> args;
  for (const auto& c : driver.calls) args.emplace_back(c.a, c.b);
  EXPECT_EQ(args, (std::vector<std::pair<DWORD, DWORD>>{{2, 0}, {100, 0}, {2, 0}, {65536, 65536}}));
  EXPECT_EQ(driver.calls[0].description, "Quorvex");
  EXPECT_EQ(driver.calls[3].handle, driver.handleToGive);
}

TEST(OpenDevice, AFailedStepLeavesItsStatusAndTheLinkClosed) {
  const std::vector<Call> steps{Call::OpenEx, Call::SetTimeouts, Call::SetLatencyTimer,
                                Call::SetUSBParameters};
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    Link l;
    l.driver.Script(steps[i], {static_cast<FT_STATUS>(10 + i)});
    l.link.OpenDevice();
    EXPECT_EQ(l.link.FtStatus, static_cast<std::int32_t>(10 + i));
    EXPECT_EQ(l.link.DeviceHandle, nullptr);
    std::vector<Call> expected(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    if (i > 0) expected.push_back(Call::Close);  // a failed open needs no close
    EXPECT_EQ(l.driver.Kinds(), expected);
  }
}

TEST_F(LinkTest, CloseForgetsTheHandleEvenWhenTheDriverFailsAndPurgeEmptiesBothWays) {
  link.OpenDevice();
  driver.Script(Call::Purge, {ft::IO_ERROR});
  link.PurgeDevice();
  EXPECT_EQ(std::make_pair(link.FtStatus, driver.calls.back().a), std::make_pair(4, 3u));
  driver.Script(Call::Close, {ft::IO_ERROR});
  link.CloseDevice();
  link.CloseDevice();  // already closed: no second driver call
  EXPECT_EQ(link.DeviceHandle, nullptr);
  EXPECT_EQ(link.FtStatus, 4);
  EXPECT_EQ(driver.CountOf(Call::Close), 1u);
}

TEST_F(LinkTest, SendsJudgeTheDriversAnswer) {
  struct Case {
    R answer;
    std::int32_t status, written;
  };
  // clang-format off
  const Case cases[] = {{{ft::OK}, 0, 6}, {{ft::IO_ERROR, {}, 0u}, 4, 0},
                        {{ft::DEVICE_NOT_OPENED, {}, 0u}, 3, 0},
                        // A short write must not pass for a sent one.
                        {{ft::OK, {}, 5u}, 4, 5}, {{ft::OK, {}, 0u}, 4, 0}};
  // clang-format on
  for (auto send : {&QVXModule::SendCommand, &QVXModule::SendBlock}) {
    for (const Case& c : cases) {
      driver.Script(Call::Write, c.answer);
      link.WriteLength = 6;
      (link.*send)();
      EXPECT_EQ(std::make_pair(link.FtStatus, link.BytesWritten),
                std::make_pair(c.status, c.written));
    }
  }
}

TEST(ExactRead, JudgesEveryReadCallTheSameForBothTargets) {
  struct Case {
    const char* name;
    std::vector<R> answers;
    std::int32_t status, total;
    bool timedOut, failed;
    std::vector<DWORD> asked;  // the count of each read call
    std::size_t stored;        // bytes the driver put into the target, counted or not
  };
  const bool T = true, F = false;
  // clang-format off
  const Case cases[] = {
      {"whole", {{ft::OK, B("WXYZ")}}, 0, 4, F, F, {4}, 4},
      {"split", {{ft::OK, B("WX")}, {ft::OK, B("YZ")}}, 0, 4, F, F, {4, 2}, 4},
      {"bytewise", {{ft::OK, B("W")}, {ft::OK, B("X")}, {ft::OK, B("YZ")}}, 0, 4, F, F, {4, 3, 2}, 4},
      {"nothing", {}, 8, 0, T, F, {4}, 0},
      {"part then nothing", {{ft::OK, B("WXY")}}, 8, 3, T, F, {4, 1}, 3},
      {"error, bytes not counted", {{ft::INVALID_HANDLE, B("WXY")}}, 8, 0, F, T, {4}, 3},
      {"error after part", {{ft::OK, B("WX")}, {ft::DEVICE_NOT_OPENED}}, 8, 2, F, T, {4, 2}, 2},
      {"status 4 with all", {{ft::IO_ERROR, B("WXYZ")}}, 4, 4, F, F, {4}, 4},
      {"status 4 with none", {{ft::IO_ERROR}}, 8, 0, T, F, {4}, 0},
      {"status 4 then 0", {{ft::IO_ERROR, B("WX")}, {ft::OK, B("YZ")}}, 0, 4, F, F, {4, 2}, 4},
      // A driver claiming more than asked for must not move the target past its end.
      {"more than asked claimed", {{ft::OK, B("WXYZ"), 9u}}, 8, 0, F, T, {4}, 4},
  };
  // clang-format on
  for (const Case& c : cases) {
    for (const bool reply : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (reply ? " ReadReply" : " ReceiveBlock"));
      Link l;
      for (const R& a : c.answers) l.driver.Script(Call::Read, a);
      l.link.ReadLength = 4;
      l.link.BufferOffset = 65540;  // the block ends exactly at the end of the image
      reply ? l.link.ReadReply() : l.link.ReceiveBlock();

      EXPECT_EQ(std::make_pair(l.link.FtStatus, l.link.ReadTotal),
                std::make_pair(c.status, c.total));
      EXPECT_EQ(std::make_pair(l.link.ReadTimedOut, l.link.ReadFailed),
                std::make_pair(c.timedOut, c.failed));
      std::vector<DWORD> asked;
      for (const auto& r : l.driver.calls) asked.push_back(r.a);
      EXPECT_EQ(asked, c.asked);
      // Bytes that no call reached keep their earlier content.
      Bytes expected = B("WXYZ");
      expected.resize(c.stored);
      expected.resize(4, reply ? ' ' : 0xAA);
      const std::uint8_t* target = reply ? l.link.ReplyBuffer.data() : l.image.data() + 65540;
      EXPECT_EQ(Bytes(target, target + 4), expected);
    }
  }
}

TEST_F(LinkTest, ReplyBufferIsResetAndSurplusWaitsForTheNextRead) {
  driver.Script(Call::Read, {ft::OK, B("ABCDEFG")});
  link.ReadLength = 7;
  link.ReadReply();
  driver.Script(Call::Read, {ft::OK, B("KR!!ab")});
  link.ReadLength = 4;
  link.ReadReply();
  EXPECT_EQ(Bytes(link.ReplyBuffer.begin(), link.ReplyBuffer.begin() + 8), B("KR!!    "));
  link.ReadLength = 2;
  link.ReadReply();
  EXPECT_EQ(Bytes(link.ReplyBuffer.begin(), link.ReplyBuffer.begin() + 3), B("ab "));
}

TEST(PutText, CopiesLeftAlignedAndCutsAtTheBufferSize) {
  std::array<std::uint8_t, QVXModule::kTextBufferSize> buffer{};
  QVXModule::PutText(buffer, std::string(5000, 'x'));
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 'x'), 4096);
  QVXModule::PutText(buffer, std::string("A\0B", 3));
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), ' '), 4093);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), (Bytes{'A', 0, 'B', ' '}));
}

}  // namespace
}  // namespace qvx::test
