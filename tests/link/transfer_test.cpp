#include <algorithm>

#include "link_fixture.h"

namespace qvx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// --- Open, configure, close ---------------------------------------------------------------

TEST_F(LinkTest, OpenConfiguresTheBoardFoundByDescription) {
  link.OpenDevice();

  EXPECT_EQ(link.FtStatus, 0);
  EXPECT_EQ(link.DeviceHandle, driver.handleToGive);
  EXPECT_THAT(driver.Kinds(), ElementsAre(Call::OpenEx, Call::SetTimeouts, Call::SetLatencyTimer,
                                          Call::SetUSBParameters));
  const auto& c = driver.calls;
  EXPECT_EQ(c[0].description, "Quorvex");
  EXPECT_EQ(c[0].a, ft::OPEN_BY_DESCRIPTION);
  EXPECT_EQ(std::make_pair(c[1].a, c[1].b), std::make_pair(100u, 0u));
  EXPECT_EQ(c[2].a, 2u);
  EXPECT_EQ(std::make_pair(c[3].a, c[3].b), std::make_pair(65536u, 65536u));
  for (std::size_t i = 1; i < c.size(); ++i) EXPECT_EQ(c[i].handle, driver.handleToGive);
}

struct OpenFailure {
  Call failing;
  FT_STATUS status;
  std::vector<Call> expected;
};

class OpenFailureTest : public LinkTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, LeavesTheStepsStatusAndNoOpenHandle) {
  driver.Script(GetParam().failing, GetParam().status);

  link.OpenDevice();

  EXPECT_EQ(link.FtStatus, static_cast<std::int32_t>(GetParam().status));
  EXPECT_EQ(link.DeviceHandle, nullptr);
  EXPECT_EQ(driver.Kinds(), GetParam().expected);
  if (driver.CountOf(Call::Close) == 1) {
    EXPECT_EQ(driver.calls.back().handle, driver.handleToGive);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, OpenFailureTest,
    ::testing::Values(
        OpenFailure{Call::OpenEx, ft::DEVICE_NOT_FOUND, {Call::OpenEx}},
        OpenFailure{
            Call::SetTimeouts, ft::IO_ERROR, {Call::OpenEx, Call::SetTimeouts, Call::Close}},
        OpenFailure{Call::SetLatencyTimer,
                    ft::INVALID_PARAMETER,
                    {Call::OpenEx, Call::SetTimeouts, Call::SetLatencyTimer, Call::Close}},
        OpenFailure{Call::SetUSBParameters,
                    ft::OTHER_ERROR,
                    {Call::OpenEx, Call::SetTimeouts, Call::SetLatencyTimer, Call::SetUSBParameters,
                     Call::Close}}));

TEST_F(LinkTest, CloseForgetsTheHandleEvenWhenTheDriverFails) {
  link.OpenDevice();
  driver.Script(Call::Close, ft::IO_ERROR);
  link.FtStatus = 77;

  link.CloseDevice();
  link.CloseDevice();  // already closed: no second driver call

  EXPECT_EQ(link.DeviceHandle, nullptr);
  EXPECT_EQ(link.FtStatus, 77);
  EXPECT_EQ(driver.CountOf(Call::Close), 1u);
}

TEST_F(LinkTest, PurgeEmptiesBothDirectionsAndReportsTheDriversStatus) {
  link.OpenDevice();
  driver.Script(Call::Purge, ft::IO_ERROR);

  link.PurgeDevice();
  EXPECT_EQ(link.FtStatus, 4);
  link.PurgeDevice();
  EXPECT_EQ(link.FtStatus, 0);
  EXPECT_EQ(driver.calls.back().a, 3u);
}

// --- Writes -------------------------------------------------------------------------------

TEST_F(LinkTest, SendCommandSendsOnlyWriteLengthBytes) {
  QVXModule::PutText(link.SendBuffer, "SI");
  link.WriteLength = 2;

  link.SendCommand();

  EXPECT_EQ(link.FtStatus, 0);
  EXPECT_EQ(link.BytesWritten, 2);
  EXPECT_THAT(driver.sent, ElementsAre(0x53, 0x49));
}

TEST_F(LinkTest, SendBlockSendsTheImageBytesFromTheOffsetInOneCall) {
  for (std::size_t i = 0; i < 8; ++i) image[200 + i] = static_cast<std::uint8_t>(i);
  link.BufferOffset = 200;
  link.WriteLength = 8;

  link.SendBlock();

  EXPECT_EQ(link.FtStatus, 0);
  ASSERT_EQ(driver.writes.size(), 1u);
  EXPECT_THAT(driver.writes[0], ElementsAre(0, 1, 2, 3, 4, 5, 6, 7));
}

struct WriteOutcome {
  const char* name;
  ScriptedDriver::Result answer;
  std::int32_t status;
  std::int32_t bytesWritten;
};

class WriteOutcomeTest : public LinkTest, public ::testing::WithParamInterface<WriteOutcome> {};

// Both sends judge the driver's answer the same way.
TEST_P(WriteOutcomeTest, BothSendsReportIt) {
  for (auto send : {&QVXModule::SendCommand, &QVXModule::SendBlock}) {
    driver.Script(Call::Write, GetParam().answer);
    link.WriteLength = 6;
    (link.*send)();
    EXPECT_EQ(link.FtStatus, GetParam().status);
    EXPECT_EQ(link.BytesWritten, GetParam().bytesWritten);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, WriteOutcomeTest,
    ::testing::Values(WriteOutcome{"AllTaken", {ft::OK, {}, {}}, 0, 6},
                      WriteOutcome{"DriverError", {ft::IO_ERROR, {}, 0u}, 4, 0},
                      WriteOutcome{"OtherError", {ft::DEVICE_NOT_OPENED, {}, 0u}, 3, 0},
                      // A short write must not pass for a sent one.
                      WriteOutcome{"ShortWithSuccess", {ft::OK, {}, 5u}, 4, 5},
                      WriteOutcome{"NothingWithSuccess", {ft::OK, {}, 0u}, 4, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Exact reads --------------------------------------------------------------------------

struct ReadCase {
  const char* name;
  std::vector<ScriptedDriver::Result> answers;
  std::int32_t status;
  std::int32_t total;
  bool timedOut;
  bool failed;
  std::vector<DWORD> asked;  // the count of each read call
  std::size_t stored;        // bytes the driver put into the target, counted or not
};

class ExactReadTest : public LinkTest, public ::testing::WithParamInterface<ReadCase> {
 protected:
  void Expect(const ReadCase& c) {
    EXPECT_EQ(link.FtStatus, c.status);
    EXPECT_EQ(link.ReadTotal, c.total);
    EXPECT_EQ(link.ReadTimedOut, c.timedOut);
    EXPECT_EQ(link.ReadFailed, c.failed);
    std::vector<DWORD> asked;
    for (const auto& r : driver.calls) asked.push_back(r.a);
    EXPECT_EQ(asked, c.asked);
  }
};

TEST_P(ExactReadTest, ReadReplyCollectsIntoTheReplyBuffer) {
  for (const auto& a : GetParam().answers) driver.Script(Call::Read, a);
  link.ReadLength = 4;

  link.ReadReply();

  Expect(GetParam());
  std::vector<std::uint8_t> expected = Bytes("WXYZ");
  expected.resize(GetParam().stored);
  expected.resize(link.ReplyBuffer.size(), ' ');
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), link.ReplyBuffer.begin()));
}

TEST_P(ExactReadTest, ReceiveBlockCollectsIntoTheImageAtTheOffset) {
  for (const auto& a : GetParam().answers) driver.Script(Call::Read, a);
  link.BufferOffset = 65540;  // the block ends exactly at the end of the image
  link.ReadLength = 4;

  link.ReceiveBlock();

  Expect(GetParam());
  // Bytes no call reached keep their earlier content.
  std::vector<std::uint8_t> expected = Bytes("WXYZ");
  expected.resize(GetParam().stored);
  expected.resize(4, 0xAA);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.begin() + 65540));
  EXPECT_EQ(image[65539], 0xAA);
}

using R = ScriptedDriver::Result;
INSTANTIATE_TEST_SUITE_P(
    Answers, ExactReadTest,
    ::testing::Values(
        ReadCase{"Whole", {R{ft::OK, Bytes("WXYZ"), {}}}, 0, 4, false, false, {4}, 4},
        ReadCase{"SplitInTwo",
                 {R{ft::OK, Bytes("WX"), {}}, R{ft::OK, Bytes("YZ"), {}}},
                 0,
                 4,
                 false,
                 false,
                 {4, 2},
                 4},
        ReadCase{"ByteByByte",
                 {R{ft::OK, Bytes("W"), {}}, R{ft::OK, Bytes("X"), {}}, R{ft::OK, Bytes("Y"), {}},
                  R{ft::OK, Bytes("Z"), {}}},
                 0,
                 4,
                 false,
                 false,
                 {4, 3, 2, 1},
                 4},
        ReadCase{"Nothing", {}, 8, 0, true, false, {4}, 0},
        ReadCase{"PartThenNothing", {R{ft::OK, Bytes("WXY"), {}}}, 8, 3, true, false, {4, 1}, 3},
        ReadCase{"ErrorWithBytesNotCounted",
                 {R{ft::INVALID_HANDLE, Bytes("WXY"), {}}},
                 8,
                 0,
                 false,
                 true,
                 {4},
                 3},
        ReadCase{"ErrorAfterPart",
                 {R{ft::OK, Bytes("WX"), {}}, R{ft::DEVICE_NOT_OPENED, {}, {}}},
                 8,
                 2,
                 false,
                 true,
                 {4, 2},
                 2},
        ReadCase{"IoErrorWithAllBytes",
                 {R{ft::IO_ERROR, Bytes("WXYZ"), {}}},
                 4,
                 4,
                 false,
                 false,
                 {4},
                 4},
        ReadCase{"IoErrorWithNothing", {R{ft::IO_ERROR, {}, {}}}, 8, 0, true, false, {4}, 0},
        ReadCase{"IoErrorReplacedByLaterSuccess",
                 {R{ft::IO_ERROR, Bytes("WX"), {}}, R{ft::OK, Bytes("YZ"), {}}},
                 0,
                 4,
                 false,
                 false,
                 {4, 2},
                 4},
        // A driver claiming more than it was asked for must not move the target past its end.
        ReadCase{
            "MoreThanAskedClaimed", {R{ft::OK, Bytes("WXYZ"), 9u}}, 8, 0, false, true, {4}, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkTest, SurplusBytesStayWithTheDriverForTheNextRead) {
  driver.Deliver(Bytes("KR!!ab"));
  link.ReadLength = 4;

  link.ReadReply();
  EXPECT_EQ(link.FtStatus, 0);
  EXPECT_EQ(link.ReplyBuffer[4], ' ');

  link.ReadLength = 2;
  link.ReadReply();
  EXPECT_EQ(link.FtStatus, 0);
  EXPECT_EQ(link.ReplyBuffer[0], 'a');
  EXPECT_EQ(link.ReplyBuffer[1], 'b');
}

TEST_F(LinkTest, ReplyBufferIsResetBeforeEachReply) {
  EXPECT_TRUE(std::all_of(link.SendBuffer.begin(), link.SendBuffer.end(),
                          [](std::uint8_t b) { return b == ' '; }));
  driver.Deliver(Bytes("ABCDEFG"));
  link.ReadLength = 7;
  link.ReadReply();
  driver.Deliver(Bytes("KR"));
  link.ReadLength = 4;

  link.ReadReply();

  EXPECT_EQ(link.FtStatus, 8);
  EXPECT_THAT(std::vector<std::uint8_t>(link.ReplyBuffer.begin(), link.ReplyBuffer.begin() + 8),
              ElementsAreArray(Bytes("KR      ")));
}

TEST(PutText, CopiesLeftAlignedAndCutsAtTheBufferSize) {
  std::array<std::uint8_t, QVXModule::kTextBufferSize> buffer{};
  QVXModule::PutText(buffer, std::string(5000, 'x'));
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 'x'), 4096);

  QVXModule::PutText(buffer, std::string("A\0B", 3));
  EXPECT_THAT(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 4),
              ElementsAre('A', 0, 'B', ' '));
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), ' '), 4093);
}

}  // namespace
}  // namespace qvx::test
