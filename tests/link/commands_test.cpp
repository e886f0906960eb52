#include <functional>

#include "link_fixture.h"

namespace qvx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// --- The bytes of every command -----------------------------------------------------------

struct CommandCase {
  const char* name;
  std::function<void(QVXModule&)> set;
  void (QVXModule::*command)();
  std::vector<std::uint8_t> bytes;
  std::int32_t writeLength;  // left behind
  std::int32_t readLength;   // left behind (was 99)
};

class CommandBytesTest : public LinkTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandBytesTest, GoOutInOneWrite) {
  const CommandCase& c = GetParam();
  c.set(link);
  link.ReadLength = 99;

  (link.*c.command)();

  ASSERT_FALSE(driver.writes.empty());
  EXPECT_EQ(driver.writes[0], c.bytes);
  EXPECT_EQ(link.CommandText, std::string(c.bytes.begin(), c.bytes.end()));
  EXPECT_EQ(link.WriteLength, c.writeLength);
  EXPECT_EQ(link.ReadLength, c.readLength);
}

INSTANTIATE_TEST_SUITE_P(
    All, CommandBytesTest,
    ::testing::Values(
        CommandCase{"SI", [](QVXModule&) {}, &QVXModule::QueryDeviceInfo, {0x53, 0x49}, 2, 4},
        CommandCase{"EX07CE",
                    [](QVXModule& m) { m.ExecOperand = 0x07CE; },
                    &QVXModule::SendExecute,
                    {0x45, 0x58, 0x07, 0xCE},
                    4,
                    99},
        CommandCase{"EX042C",
                    [](QVXModule& m) { m.ExecOperand = 0x042C; },
                    &QVXModule::SendExecute,
                    {0x45, 0x58, 0x04, 0x2C},
                    4,
                    99},
        CommandCase{"EXLargest",
                    [](QVXModule& m) { m.ExecOperand = 65535; },
                    &QVXModule::SendExecute,
                    {0x45, 0x58, 0xFF, 0xFF},
                    4,
                    99},
        CommandCase{"RF",
                    [](QVXModule& m) {
                      m.FlashAddress = 0x1000;
                      m.BlockWords = 512;
                    },
                    &QVXModule::ReadFlashBlock,
                    {0x52, 0x46, 0x00, 0x10, 0x00, 0x02, 0x00},
                    7,
                    2048},
        CommandCase{"RFLargestAddressOneWord",
                    [](QVXModule& m) {
                      m.FlashAddress = 0xFFFF;
                      m.BlockWords = 1;
                    },
                    &QVXModule::ReadFlashBlock,
                    {0x52, 0x46, 0x00, 0xFF, 0xFF, 0x00, 0x01},
                    7,
                    4},
        CommandCase{"WF",
                    [](QVXModule& m) {
                      m.FlashAddress = 0x7C00;
                      m.BlockWords = 512;
                      m.BufferOffset = 63496;
                    },
                    &QVXModule::WriteFlashBlock,
                    {0x57, 0x46, 0x00, 0x7C, 0x00},
                    2048,
                    99}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkTest, ReadFlashBlockCollectsTheBlockIntoTheImage) {
  link.FlashAddress = 0x1000;
  link.BlockWords = 512;
  link.BufferOffset = 8;
  driver.Deliver(std::vector<std::uint8_t>(1000, 0x11));
  driver.Deliver(std::vector<std::uint8_t>(1048, 0x22));

  link.ReadFlashBlock();

  EXPECT_EQ(link.FtStatus, 0);
  EXPECT_EQ(driver.calls[1].a, 2048u);
  EXPECT_EQ(image[7], 0xAA);
  EXPECT_EQ(image[8], 0x11);
  EXPECT_EQ(image[1008], 0x22);
  EXPECT_EQ(image[2055], 0x22);
  EXPECT_EQ(image[2056], 0xAA);
}

TEST_F(LinkTest, WriteFlashBlockSendsTheLastBlockOfTheImageAfterTheCommand) {
  for (std::size_t i = 63496; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
  link.FlashAddress = 0x7C00;
  link.BlockWords = 512;
  link.BufferOffset = 63496;

  link.WriteFlashBlock();

  EXPECT_EQ(link.FtStatus, 0);
  ASSERT_EQ(driver.writes.size(), 2u);
  EXPECT_TRUE(std::equal(driver.writes[1].begin(), driver.writes[1].end(), image.begin() + 63496,
                         image.end()));
}

// --- A failing command write stops the command ----------------------------------------------

TEST_F(LinkTest, FailedCommandWriteStopsBeforeTheDataPhase) {
  link.FlashAddress = 0x1000;
  link.BlockWords = 512;
  link.ReadLength = 99;
  const auto before = image;

  driver.Script(Call::Write, ft::IO_ERROR);
  link.ReadFlashBlock();
  EXPECT_EQ(link.FtStatus, 4);
  EXPECT_EQ(driver.CountOf(Call::Read), 0u);
  EXPECT_EQ(link.ReadLength, 99);
  EXPECT_EQ(image, before);

  driver.Script(Call::Write, ft::IO_ERROR);
  link.WriteFlashBlock();
  EXPECT_EQ(link.FtStatus, 4);
  EXPECT_EQ(driver.CountOf(Call::Write), 2u);  // the two command writes, no data
  EXPECT_EQ(link.WriteLength, 5);
}

// --- "SI" and its outcomes ----------------------------------------------------------------

struct InfoCase {
  const char* name;
  std::vector<ScriptedDriver::Result> reads;
  FT_STATUS writeStatus;
  std::int32_t status;
  std::array<std::uint8_t, 4> versions;  // HwMajor, HwMinor, FwMajor, FwMinor after (were 9s)
};

class QueryDeviceInfoTest : public LinkTest, public ::testing::WithParamInterface<InfoCase> {};

TEST_P(QueryDeviceInfoTest, DecodesOrKeepsTheVersions) {
  const InfoCase& c = GetParam();
  driver.Script(Call::Write, c.writeStatus);
  for (const auto& r : c.reads) driver.Script(Call::Read, r);
  link.HwMajor = link.HwMinor = link.FwMajor = link.FwMinor = 9;

  link.QueryDeviceInfo();

  EXPECT_EQ(link.FtStatus, c.status);
  EXPECT_THAT((std::array{link.HwMajor, link.HwMinor, link.FwMajor, link.FwMinor}),
              ElementsAreArray(c.versions));
}

using R = ScriptedDriver::Result;
INSTANTIATE_TEST_SUITE_P(
    Outcomes, QueryDeviceInfoTest,
    ::testing::Values(
        InfoCase{"Signed", {R{ft::OK, {'K', 'R', 0x21, 0x13}, {}}}, ft::OK, 0, {2, 1, 1, 3}},
        InfoCase{
            "HighestVersions", {R{ft::OK, {'K', 'R', 0xFF, 0xF0}, {}}}, ft::OK, 0, {15, 15, 15, 0}},
        InfoCase{"SplitReply",
                 {R{ft::OK, {'K'}, {}}, R{ft::OK, {'R', 0x21, 0x13}, {}}},
                 ft::OK,
                 0,
                 {2, 1, 1, 3}},
        InfoCase{
            "LowerCaseSignature", {R{ft::OK, {'k', 'r', 0x21, 0x13}, {}}}, ft::OK, 0, {0, 0, 9, 9}},
        InfoCase{"ThreeBytes", {R{ft::OK, {'K', 'R', 0x21}, {}}}, ft::OK, 8, {0, 0, 9, 9}},
        InfoCase{"NoReply", {}, ft::OK, 8, {0, 0, 9, 9}},
        InfoCase{"IoErrorOnLastRead",
                 {R{ft::IO_ERROR, {'K', 'R', 0x21, 0x13}, {}}},
                 ft::OK,
                 4,
                 {0, 0, 9, 9}},
        InfoCase{"RequestNotSent", {}, ft::DEVICE_NOT_OPENED, 3, {9, 9, 9, 9}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkTest, QueryDeviceInfoNotSentLeavesReadLength) {
  driver.Script(Call::Write, ft::IO_ERROR);
  link.ReadLength = 99;
  link.QueryDeviceInfo();
  EXPECT_EQ(link.ReadLength, 99);
  EXPECT_EQ(driver.CountOf(Call::Read), 0u);
}

}  // namespace
}  // namespace qvx::test
