#include <array>

#include "link_fixture.h"

namespace qvx::test {
namespace {

// The parameters a command reads; the defaults are valid.
struct Parameters {
  std::int32_t address = 0, words = 512, offset = 8, operand = 0;
  void Apply(QVXModule& m) const {
    m.FlashAddress = address;
    m.BlockWords = words;
    m.BufferOffset = offset;
    m.ExecOperand = operand;
  }
};

TEST(Commands, GoOutAsTheirBytesAndLeaveTheLengths) {
  struct Case {
    void (QVXModule::*command)();
    Parameters p;
    Bytes bytes;
    std::int32_t writeLength, readLength;  // ReadLength was 99
  };
  using M = QVXModule;
  // clang-format off
  const Case cases[] = {
      {&M::QueryDeviceInfo, {}, {0x53, 0x49}, 2, 4},
      {&M::SendExecute, {.operand = 0x07CE}, {0x45, 0x58, 0x07, 0xCE}, 4, 99},
      {&M::SendExecute, {.operand = 0x042C}, {0x45, 0x58, 0x04, 0x2C}, 4, 99},
      {&M::SendExecute, {.operand = 0xFFFF}, {0x45, 0x58, 0xFF, 0xFF}, 4, 99},
      {&M::ReadFlashBlock, {.address = 0x1000}, {0x52, 0x46, 0x00, 0x10, 0x00, 0x02, 0x00}, 7, 2048},
      {&M::ReadFlashBlock, {.address = 0xFFFF, .words = 1}, {0x52, 0x46, 0, 0xFF, 0xFF, 0, 1}, 7, 4},
      {&M::WriteFlashBlock, {.address = 0x7C00, .offset = 63496}, {0x57, 0x46, 0x00, 0x7C, 0x00}, 2048, 99},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    Link l;
    for (std::size_t i = 0; i < l.image.size(); ++i)
      l.image[i] = static_cast<std::uint8_t>(i % 251);
    c.p.Apply(l.link);
    l.link.ReadLength = 99;
    (l.link.*c.command)();
    ASSERT_FALSE(l.driver.writes.empty());
    EXPECT_EQ(l.driver.writes[0], c.bytes);
    EXPECT_EQ(l.link.CommandText, std::string(c.bytes.begin(), c.bytes.end()));
    EXPECT_EQ(std::make_pair(l.link.WriteLength, l.link.ReadLength),
              std::make_pair(c.writeLength, c.readLength));
    if (c.command == &M::WriteFlashBlock) {  // then the last block of the image, unchanged
      EXPECT_EQ(l.driver.writes.back(), Bytes(l.image.begin() + 63496, l.image.end()));
    }
  }
}

TEST_F(LinkTest, AFailedCommandWriteStopsBeforeTheDataPhase) {
  const Bytes before = image;
  Parameters{}.Apply(link);
  link.ReadLength = 99;
  driver.Script(Call::Write, {ft::IO_ERROR});
  link.ReadFlashBlock();
  EXPECT_EQ(std::make_pair(link.FtStatus, link.ReadLength), std::make_pair(4, 99));
  driver.Script(Call::Write, {ft::IO_ERROR});
  link.WriteFlashBlock();
  EXPECT_EQ(std::make_pair(link.FtStatus, link.WriteLength), std::make_pair(4, 5));
  driver.Script(Call::Write, {ft::IO_ERROR});
  link.QueryDeviceInfo();
  EXPECT_EQ(link.ReadLength, 99);

  EXPECT_EQ(driver.Kinds(), std::vector<Call>(3, Call::Write));  // no reads, no data
  EXPECT_EQ(image, before);
}

TEST(QueryDeviceInfo, DecodesOrKeepsTheVersions) {
  struct Case {
    const char* name;
    FT_STATUS writeStatus;
    std::vector<R> reads;
    std::int32_t status;
    std::array<std::uint8_t, 4> versions;  // HwMajor, HwMinor, FwMajor, FwMinor; were all 9
  };
  // clang-format off
  const Case cases[] = {
      {"signed", ft::OK, {{ft::OK, {'K', 'R', 0x21, 0x13}}}, 0, {2, 1, 1, 3}},
      {"highest", ft::OK, {{ft::OK, {'K', 'R', 0xFF, 0xF0}}}, 0, {15, 15, 15, 0}},
      {"split", ft::OK, {{ft::OK, {'K'}}, {ft::OK, {'R', 0x21, 0x13}}}, 0, {2, 1, 1, 3}},
      {"lower case", ft::OK, {{ft::OK, {'k', 'r', 0x21, 0x13}}}, 0, {0, 0, 9, 9}},
      {"three bytes", ft::OK, {{ft::OK, {'K', 'R', 0x21}}}, 8, {0, 0, 9, 9}},
      {"status 4", ft::OK, {{ft::IO_ERROR, {'K', 'R', 0x21, 0x13}}}, 4, {0, 0, 9, 9}},
      {"not sent", ft::DEVICE_NOT_OPENED, {}, 3, {9, 9, 9, 9}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Link l;
    l.driver.Script(Call::Write, {c.writeStatus});
    for (const R& r : c.reads) l.driver.Script(Call::Read, r);
    QVXModule& m = l.link;
    m.HwMajor = m.HwMinor = m.FwMajor = m.FwMinor = 9;
    m.QueryDeviceInfo();
    EXPECT_EQ(m.FtStatus, c.status);
    EXPECT_EQ((std::array{m.HwMajor, m.HwMinor, m.FwMajor, m.FwMinor}), c.versions);
  }
}

// Out-of-range lengths, offsets and parameters are refused before the driver is asked, so the
// link never reads or writes outside its buffers.
TEST(Refusals, InvalidParameterAndNoDriverCall) {
  struct Case {
    void (QVXModule::*operation)();
    Parameters p;
    std::int32_t writeLength = 2, readLength = 4;
  };
  using M = QVXModule;
  // clang-format off
  const Case cases[] = {
      {&M::SendCommand, {}, 4097},              {&M::SendCommand, {}, -1},
      {&M::ReadReply, {}, 2, 4097},             {&M::ReadReply, {}, 2, -1},
      {&M::SendBlock, {.offset = -1}},          {&M::SendBlock, {.offset = 65543}},
      {&M::SendBlock, {}, -4},                  {&M::SendBlock, {.offset = INT32_MAX}, 1},
      {&M::ReceiveBlock, {.offset = 65541}},    {&M::ReceiveBlock, {.offset = -2048}, 2, 2048},
      {&M::SendExecute, {.operand = 65536}},    {&M::SendExecute, {.operand = -1}},
      {&M::ReadFlashBlock, {.address = 65536}}, {&M::WriteFlashBlock, {.address = -1}},
      {&M::ReadFlashBlock, {.words = 0}},       {&M::WriteFlashBlock, {.words = 65536}},
      {&M::ReadFlashBlock, {.offset = 63497}},  {&M::WriteFlashBlock, {.offset = 63497}},
      {&M::WriteFlashBlock, {.offset = -1}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Link l;
    c.p.Apply(l.link);
    l.link.WriteLength = c.writeLength;
    l.link.ReadLength = c.readLength;
    (l.link.*c.operation)();
    EXPECT_EQ(l.link.FtStatus, 6);
    EXPECT_TRUE(l.driver.calls.empty());
    EXPECT_EQ(l.link.CommandText, "");
    EXPECT_EQ(l.image, Bytes(65544, 0xAA));
  }
}

}  // namespace
}  // namespace qvx::test
