#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "window_harness.h"

namespace qvx::ui::test {
namespace {

using board::Call;

constexpr char kHardware21[] = "Quorvex - Hardware v2.1";
constexpr char kFound11To16[] = "Firmware: v1.1  -  Upgrading to: v1.6";

int CountMnemonic(const board::VirtualBoard& board, const std::string& mnemonic) {
  const auto& commands = board.Commands();
  return static_cast<int>(std::count_if(commands.begin(), commands.end(),
                                        [&](const auto& c) { return c.mnemonic == mnemonic; }));
}

// Each row: a button and the state the window must be in afterwards.
struct Step {
  std::int16_t button;
  WindowState after;
};

struct FlowCase {
  const char* name;
  std::vector<Step> steps;
};
void PrintTo(const FlowCase& c, std::ostream* out) {
  *out << c.name;
}

class OperatorFlow : public testing::TestWithParam<FlowCase> {};

TEST_P(OperatorFlow, EveryTransitionEndsInItsState) {
  Harness h;
  h.Load();
  ASSERT_EQ(StateOf(*h.form), StartState());
  for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
    const Step& step = GetParam().steps[i];
    h.Click(step.button);
    EXPECT_EQ(StateOf(*h.form), step.after) << "after step " << i;
  }
  EXPECT_TRUE(h.recorder.boxes.empty());
  EXPECT_EQ(h.Board().Opens(), 1);  // resets keep the link open
  EXPECT_TRUE(h.Board().IsOpen());
}

const WindowState kFound = DeviceFoundState(kHardware21, kFound11To16);

INSTANTIATE_TEST_SUITE_P(
    Window, OperatorFlow,
    testing::Values(FlowCase{"FindAbortFindAgain",
                             {{fmStart::kFindDevice, kFound},
                              {fmStart::kAbortFlash, StartState()},
                              {fmStart::kFindDevice, kFound}}},
                    FlowCase{"FlashOkThenFlashAgain",
                             {{fmStart::kFindDevice, kFound},
                              {fmStart::kFlashDevice, CompleteState(kHardware21)},
                              {fmStart::kOk, StartState()},
                              {fmStart::kFindDevice, kFound},
                              {fmStart::kFlashDevice, CompleteState(kHardware21)}}}),
    [](const testing::TestParamInfo<FlowCase>& info) { return info.param.name; });

TEST(WindowCommands, FlashingStateHoldsWhileTheUpdateRunsAndTheBarEndsWhereTheEngineLeftIt) {
  Harness h;
  h.Load();
  h.Click(fmStart::kFindDevice);
  // A zero timer runs at every message pump of the update.
  std::vector<WindowState> during;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] { during.push_back(StateOf(*h.form)); });
  sampler.start(0);
  h.Click(fmStart::kFlashDevice);
  sampler.stop();

  ASSERT_FALSE(during.empty());
  for (const WindowState& state : during) EXPECT_EQ(state, FlashingState(kHardware21));
  EXPECT_EQ(StateOf(*h.form), CompleteState(kHardware21));
  // Firmware 1.1 takes the bootloader stage: the bar stops at 54 of 55.
  EXPECT_EQ(h.form->ProgressBar->maximum(), 55);
  EXPECT_EQ(h.form->ProgressBar->value(), 54);
  EXPECT_EQ(h.form->ProgressValue(), 54);
}

TEST(WindowCommands, FailedUpdateShowsOneBoxAndReturnsToStart) {
  Harness h;
  h.Load();
  h.Click(fmStart::kFindDevice);
  h.Board().CorruptReadBack(0x2000 + 16, true);  // flash byte of address 4,104: Step 2
  h.Click(fmStart::kFlashDevice);

  ASSERT_EQ(h.recorder.boxes.size(), 1u);
  EXPECT_EQ(h.recorder.boxes[0].request.title, "Verify Failure!");
  EXPECT_FALSE(h.recorder.boxes[0].request.stopIcon);
  EXPECT_EQ(StateOf(*h.form), StartState());
  EXPECT_TRUE(h.Board().IsOpen());
}

TEST(WindowCommands, AbortFlashWritesNothing) {
  Harness h;
  h.Load();
  h.Click(fmStart::kFindDevice);
  const std::vector<std::uint8_t> before = h.Board().Flash();
  h.Click(fmStart::kAbortFlash);

  EXPECT_EQ(CountMnemonic(h.Board(), "WF"), 0);
  EXPECT_EQ(CountMnemonic(h.Board(), "EX"), 0);
  EXPECT_EQ(h.Board().Flash(), before);
  EXPECT_EQ(StateOf(*h.form), StartState());
}

struct VersionCase {
  const char* name;
  std::uint8_t hardware;
  std::uint8_t firmware;
  std::uint8_t image;
  const char* device;
  const char* status;
};
void PrintTo(const VersionCase& c, std::ostream* out) {
  *out << c.name;
}

class VersionTexts : public testing::TestWithParam<VersionCase> {};

// Versions are written in decimal, 10 to 15 included.
TEST_P(VersionTexts, FindDeviceShowsBoardAndImageVersions) {
  const VersionCase& c = GetParam();
  Harness h(LoaderOf(MakeContainer(c.image)));
  h.Board().SetVersions(c.hardware, c.firmware);
  h.Load();
  h.Click(fmStart::kFindDevice);
  EXPECT_EQ(StateOf(*h.form), DeviceFoundState(c.device, c.status));
}

INSTANTIATE_TEST_SUITE_P(
    Window, VersionTexts,
    testing::Values(VersionCase{"Plain", 0x21, 0x15, 0x16, "Quorvex - Hardware v2.1",
                                "Firmware: v1.5  -  Upgrading to: v1.6"},
                    VersionCase{"TwoDigitMinors", 0x1A, 0x15, 0x1C, "Quorvex - Hardware v1.10",
                                "Firmware: v1.5  -  Upgrading to: v1.12"},
                    VersionCase{"Extremes", 0xFF, 0x00, 0xF0, "Quorvex - Hardware v15.15",
                                "Firmware: v0.0  -  Upgrading to: v15.0"}),
    [](const testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

// Only the purges decide; a missing "SI" reply shows hardware 0.0 (the firmware version keeps the
// last reply's) and the image still loads.
TEST(WindowCommands, MissingSIReplyAfterGoodPurgesShowsZeroVersions) {
  Harness h;
  h.Load();
  h.Board().SwallowReply("SI", 1);
  h.Click(fmStart::kFindDevice);
  EXPECT_EQ(StateOf(*h.form),
            DeviceFoundState("Quorvex - Hardware v0.0", "Firmware: v1.1  -  Upgrading to: v1.6"));
  EXPECT_TRUE(h.recorder.boxes.empty());
}

struct RefusedImageCase {
  const char* name;
  std::optional<std::vector<std::uint8_t>> container;
};
void PrintTo(const RefusedImageCase& c, std::ostream* out) {
  *out << c.name;
}

class RefusedImage : public testing::TestWithParam<RefusedImageCase> {};

TEST_P(RefusedImage, ShowsItsBoxOverTheHardwareTextThenResets) {
  Harness h(LoaderOf(GetParam().container));
  h.Load();
  h.Click(fmStart::kFindDevice);

  ASSERT_EQ(h.recorder.boxes.size(), 1u);
  const RecordedBox& box = h.recorder.boxes[0];
  EXPECT_EQ(box.request.text, "Device not currently supported for upgrading!");
  EXPECT_EQ(box.request.title, "Device not supported!");
  EXPECT_FALSE(box.request.stopIcon);
  EXPECT_FALSE(box.request.systemModal);
  EXPECT_EQ(box.device, kHardware21);
  EXPECT_EQ(StateOf(*h.form), StartState());
  EXPECT_EQ(h.form->OpResult, -1);
  EXPECT_TRUE(h.Board().IsOpen());
  EXPECT_FALSE(h.form->IsClosed());
}

std::vector<std::uint8_t> BadHeaderContainer() {
  std::vector<std::uint8_t> container = MakeContainer(0x16);
  std::int16_t opResult = 0;
  FirmwareImage image(nullptr, opResult);
  image.CreateArrays();
  image.ResourceData = container;
  image.DescrambleImage();
  image.ImageBuffer[4] = 1;
  image.ScrambleImage();
  return image.ResourceData;
}

INSTANTIATE_TEST_SUITE_P(
    Window, RefusedImage,
    testing::Values(RefusedImageCase{"Missing", std::nullopt},
                    RefusedImageCase{"Short", std::vector<std::uint8_t>(kContainerSize - 1, 0)},
                    RefusedImageCase{"BadHeader", BadHeaderContainer()}),
    [](const testing::TestParamInfo<RefusedImageCase>& info) { return info.param.name; });

class PurgeFailure : public testing::TestWithParam<int> {};

// Either purge of Find Device failing closes the window first, then tells, then ends (status 1).
TEST_P(PurgeFailure, ClosesTheWindowThenShowsTheLinkBox) {
  Harness h;
  h.Load();
  h.Board().FailCall(Call::Purge, GetParam(), ft::IO_ERROR);
  h.Click(fmStart::kFindDevice);

  ASSERT_EQ(h.recorder.boxes.size(), 1u);
  const RecordedBox& box = h.recorder.boxes[0];
  EXPECT_EQ(box.request.text, "USB Connection Failure!");
  EXPECT_EQ(box.request.title, "USB Error");
  EXPECT_FALSE(box.request.stopIcon);
  EXPECT_TRUE(box.windowClosed);
  EXPECT_FALSE(box.windowVisible);
  EXPECT_EQ(h.form->OpResult, 0);
  EXPECT_EQ(h.form->ExitStatus(), 1);
  EXPECT_FALSE(h.Board().IsOpen());
  EXPECT_EQ(h.Board().Closes(), 1);
}

INSTANTIATE_TEST_SUITE_P(Window, PurgeFailure, testing::Values(1, 2));

// The operator closes the window in the middle of an update: the link closes at once, the update
// stops at its next pump, and nothing touches the driver or the window afterwards.
TEST(WindowCommands, CloseDuringUpdateEndsItQuietly) {
  Harness h;
  h.Load();
  h.Click(fmStart::kFindDevice);
  // Closed from inside the sixth message pump, as the operator's close would arrive.
  int pumps = 0;
  std::size_t commandsAtClose = 0;
  int purgesAtClose = 0;
  QTimer operatorClose;
  QObject::connect(&operatorClose, &QTimer::timeout, [&] {
    if (++pumps != 6) return;
    h.form->close();
    commandsAtClose = h.Board().Commands().size();
    purgesAtClose = h.Board().Purges();
  });
  operatorClose.start(0);
  h.Click(fmStart::kFlashDevice);
  operatorClose.stop();

  EXPECT_TRUE(h.form->IsClosed());
  EXPECT_TRUE(h.recorder.boxes.empty());
  ASSERT_GE(pumps, 6);
  EXPECT_EQ(h.Board().Closes(), 1);
  EXPECT_FALSE(h.Board().IsOpen());
  EXPECT_EQ(h.Board().Commands().size(), commandsAtClose);  // nothing sent after the close
  EXPECT_EQ(h.Board().Purges(), purgesAtClose);
  EXPECT_NE(h.form->OpResult, 0);
  EXPECT_EQ(h.form->ExitStatus(), 0);
  // The click handler left the window as the close found it.
  EXPECT_EQ(h.form->StatusText->text().toStdString(), "Flashing device...");
}

// Keys reach the window and its buttons but change nothing: no default button, no shortcut.
TEST(WindowCommands, KeysChangeNothing) {
  Harness h;
  h.Load();
  h.Click(fmStart::kFindDevice);
  const WindowState before = StateOf(*h.form);
  const std::size_t commandsBefore = h.Board().Commands().size();
  for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_F4, Qt::Key_A}) {
    for (QWidget* target : {static_cast<QWidget*>(h.form.get()),
                            static_cast<QWidget*>(h.form->Button[fmStart::kFlashDevice]),
                            static_cast<QWidget*>(h.form->Button[fmStart::kAbortFlash])}) {
      QKeyEvent press(QEvent::KeyPress, key, Qt::AltModifier);
      QKeyEvent plain(QEvent::KeyPress, key, Qt::NoModifier);
      QCoreApplication::sendEvent(target, &press);
      QCoreApplication::sendEvent(target, &plain);
    }
  }
  EXPECT_EQ(StateOf(*h.form), before);
  EXPECT_EQ(h.Board().Commands().size(), commandsBefore);
  EXPECT_FALSE(h.form->IsClosed());
}

}  // namespace
}  // namespace qvx::ui::test
