#include <climits>
#include <functional>

#include "link_fixture.h"

namespace qvx::test {
namespace {

// Out-of-range lengths, offsets and parameters are refused before the driver is asked, so the
// link never reads or writes outside its buffers.
struct Refusal {
  const char* name;
  std::function<void(QVXModule&)> set;
  void (QVXModule::*operation)();
};

class RefusalTest : public LinkTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, InvalidParameterAndNoDriverCall) {
  link.BlockWords = 512;
  link.BufferOffset = 8;
  GetParam().set(link);
  const auto image_before = image;
  const std::string text_before = link.CommandText;

  (link.*GetParam().operation)();

  EXPECT_EQ(link.FtStatus, 6);
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_EQ(image, image_before);
  EXPECT_EQ(link.CommandText, text_before);
}

using M = QVXModule;
INSTANTIATE_TEST_SUITE_P(
    All, RefusalTest,
    ::testing::Values(
        Refusal{"CommandLongerThanBuffer", [](M& m) { m.WriteLength = 4097; }, &M::SendCommand},
        Refusal{"CommandNegative", [](M& m) { m.WriteLength = -1; }, &M::SendCommand},
        Refusal{"ReplyLongerThanBuffer", [](M& m) { m.ReadLength = 4097; }, &M::ReadReply},
        Refusal{"ReplyNegative", [](M& m) { m.ReadLength = -1; }, &M::ReadReply},
        Refusal{"SendBlockNegativeOffset",
                [](M& m) {
                  m.BufferOffset = -1;
                  m.WriteLength = 4;
                },
                &M::SendBlock},
        Refusal{"SendBlockPastTheEnd",
                [](M& m) {
                  m.BufferOffset = 65540;
                  m.WriteLength = 5;
                },
                &M::SendBlock},
        Refusal{"SendBlockNegativeLength", [](M& m) { m.WriteLength = -4; }, &M::SendBlock},
        Refusal{"SendBlockOffsetOverflow",
                [](M& m) {
                  m.BufferOffset = INT_MAX;
                  m.WriteLength = 1;
                },
                &M::SendBlock},
        Refusal{"ReceiveBlockPastTheEnd",
                [](M& m) {
                  m.BufferOffset = 63497;
                  m.ReadLength = 2048;
                },
                &M::ReceiveBlock},
        Refusal{"ReceiveBlockNegativeOffset",
                [](M& m) {
                  m.BufferOffset = -2048;
                  m.ReadLength = 2048;
                },
                &M::ReceiveBlock},
        Refusal{"ExecOperandTooLarge", [](M& m) { m.ExecOperand = 65536; }, &M::SendExecute},
        Refusal{"ExecOperandNegative", [](M& m) { m.ExecOperand = -1; }, &M::SendExecute},
        Refusal{"ReadAddressTooLarge", [](M& m) { m.FlashAddress = 65536; }, &M::ReadFlashBlock},
        Refusal{"WriteAddressNegative", [](M& m) { m.FlashAddress = -1; }, &M::WriteFlashBlock},
        Refusal{"NoWords", [](M& m) { m.BlockWords = 0; }, &M::ReadFlashBlock},
        Refusal{"TooManyWords", [](M& m) { m.BlockWords = 65536; }, &M::WriteFlashBlock},
        Refusal{"ReadBlockLeavesTheImage", [](M& m) { m.BufferOffset = 63497; },
                &M::ReadFlashBlock},
        Refusal{"WriteBlockLeavesTheImage", [](M& m) { m.BufferOffset = 63497; },
                &M::WriteFlashBlock},
        Refusal{"WriteBlockNegativeOffset", [](M& m) { m.BufferOffset = -1; },
                &M::WriteFlashBlock}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkTest, LengthsAtTheLimitsAreAccepted) {
  link.WriteLength = 4096;
  link.SendCommand();
  link.ReadLength = 4096;
  link.ReadReply();
  link.BufferOffset = 0;
  link.WriteLength = 65544;
  link.SendBlock();

  EXPECT_EQ(driver.CountOf(Call::Write), 2u);
  EXPECT_EQ(driver.CountOf(Call::Read), 1u);
  EXPECT_EQ(driver.writes[1].size(), 65544u);
}

}  // namespace
}  // namespace qvx::test
