#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "../image/test_image.h"
#include "window_harness.h"

namespace qvx::ui::test {
namespace {

using board::Call;

constexpr char kHardware21[] = "Quorvex - Hardware v2.1";
const WindowState kFound = DeviceFoundState(kHardware21, "Firmware: v1.1  -  Upgrading to: v1.6");

int CountMnemonic(const board::VirtualBoard& board, const std::string& mnemonic) {
  const auto& commands = board.Commands();
  return static_cast<int>(std::count_if(commands.begin(), commands.end(),
                                        [&](const auto& c) { return c.mnemonic == mnemonic; }));
}

// Runs `during` at every message pump of the Flash Device click.
void FlashWhile(Harness& h, const std::function<void()>& during) {
  QTimer pump;
  QObject::connect(&pump, &QTimer::timeout, during);
  pump.start(0);
  h.Click(fmStart::kFlashDevice);
}

TEST(WindowCommands, EveryTransitionEndsInItsStateAndResetsKeepTheLinkOpen) {
  struct Step {
    std::int16_t button;
    WindowState after;
  };
  const std::vector<std::vector<Step>> flows{{{fmStart::kFindDevice, kFound},
                                              {fmStart::kAbortFlash, StartState()},
                                              {fmStart::kFindDevice, kFound}},
                                             {{fmStart::kFindDevice, kFound},
                                              {fmStart::kFlashDevice, CompleteState(kHardware21)},
                                              {fmStart::kOk, StartState()},
                                              {fmStart::kFindDevice, kFound},
                                              {fmStart::kFlashDevice, CompleteState(kHardware21)}}};
  for (const auto& flow : flows) {
    SCOPED_TRACE(flow.size());
    Harness h;
    h.Load();
    ASSERT_EQ(StateOf(*h.form), StartState());
    for (std::size_t i = 0; i < flow.size(); ++i) {
      const std::vector<std::uint8_t> before = h.board.Flash();
      h.Click(flow[i].button);
      EXPECT_EQ(StateOf(*h.form), flow[i].after) << "after step " << i;
      if (flow[i].button == fmStart::kAbortFlash) {  // writes nothing
        EXPECT_EQ(h.board.Flash(), before);
        EXPECT_EQ(CountMnemonic(h.board, "WF") + CountMnemonic(h.board, "EX"), 0);
      }
    }
    EXPECT_TRUE(h.recorder.boxes.empty());
    EXPECT_EQ(h.board.Opens(), 1);
    EXPECT_TRUE(h.board.IsOpen());
  }
}

TEST(WindowCommands, FlashingStateHoldsWhileTheUpdateRunsAndTheBarEndsWhereTheEngineLeftIt) {
  Harness h;
  h.Load();
  h.Click(fmStart::kFindDevice);
  std::vector<WindowState> during;
  FlashWhile(h, [&] { during.push_back(StateOf(*h.form)); });

  ASSERT_FALSE(during.empty());
  for (const WindowState& state : during) EXPECT_EQ(state, FlashingState(kHardware21));
  EXPECT_EQ(StateOf(*h.form), CompleteState(kHardware21));
  // Firmware 1.1 takes the bootloader stage: the bar stops at 54 of 55.
  EXPECT_EQ(h.form->ProgressBar->maximum(), 55);
  EXPECT_EQ(h.form->ProgressBar->value(), 54);
}

TEST(WindowCommands, FailedUpdateShowsOneBoxAndReturnsToStart) {
  Harness h;
  h.Load();
  h.Click(fmStart::kFindDevice);
  h.board.CorruptReadBack(0x2000 + 16, true);  // flash byte of address 4,104: Step 2
  h.Click(fmStart::kFlashDevice);

  ASSERT_EQ(h.recorder.boxes.size(), 1u);
  EXPECT_EQ(h.recorder.boxes[0].request.title, "Verify Failure!");
  EXPECT_EQ(StateOf(*h.form), StartState());
  EXPECT_TRUE(h.board.IsOpen());
}

// Versions are written in decimal, 10 to 15 included. Only the purges decide: a missing "SI"
// reply shows hardware 0.0 (the firmware keeps the last reply's) and the image still loads.
TEST(WindowCommands, FindDeviceShowsBoardAndImageVersions) {
  struct Case {
    std::uint8_t hardware, firmware, image;
    bool swallowSI;
    const char* device;
    const char* status;
  };
  const Case cases[] = {
      {0x21, 0x15, 0x16, false, kHardware21, "Firmware: v1.5  -  Upgrading to: v1.6"},
      {0x1A, 0x15, 0x1C, false, "Quorvex - Hardware v1.10",
       "Firmware: v1.5  -  Upgrading to: v1.12"},
      {0xFF, 0x00, 0xF0, false, "Quorvex - Hardware v15.15",
       "Firmware: v0.0  -  Upgrading to: v15.0"},
      {0x21, 0x11, 0x16, true, "Quorvex - Hardware v0.0", "Firmware: v1.1  -  Upgrading to: v1.6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    Harness h(LoaderOf(MakeContainer(c.image)));
    h.board.SetVersions(c.hardware, c.firmware);
    h.Load();
    if (c.swallowSI) h.board.SwallowReply("SI", 1);
    h.Click(fmStart::kFindDevice);
    EXPECT_EQ(StateOf(*h.form), DeviceFoundState(c.device, c.status));
    EXPECT_TRUE(h.recorder.boxes.empty());
  }
}

TEST(WindowCommands, RefusedImageShowsItsBoxOverTheHardwareTextThenResets) {
  std::vector<std::uint8_t> badHeader = qvx::test::PlainImage();
  badHeader[4] = 1;
  const std::optional<std::vector<std::uint8_t>> containers[] = {
      std::nullopt, std::vector<std::uint8_t>(kContainerSize - 1, 0),
      qvx::test::Scrambled(badHeader)};
  for (const auto& container : containers) {
    SCOPED_TRACE(container ? container->size() : 0);
    Harness h(LoaderOf(container));
    h.Load();
    h.Click(fmStart::kFindDevice);

    ASSERT_EQ(h.recorder.boxes.size(), 1u);
    const RecordedBox& box = h.recorder.boxes[0];
    EXPECT_EQ(box.request.text, "Device not currently supported for upgrading!");
    EXPECT_EQ(box.request.title, "Device not supported!");
    EXPECT_FALSE(box.request.stopIcon || box.request.systemModal);
    EXPECT_EQ(box.device, kHardware21);
    EXPECT_EQ(StateOf(*h.form), StartState());
    EXPECT_EQ(h.form->OpResult, -1);
    EXPECT_TRUE(h.board.IsOpen());
  }
}

// Either purge of Find Device failing closes the window first, then tells, then ends (status 1).
TEST(WindowCommands, PurgeFailureClosesTheWindowThenShowsTheLinkBox) {
  for (const int purge : {1, 2}) {
    SCOPED_TRACE(purge);
    Harness h;
    h.Load();
    h.board.FailCall(Call::Purge, purge, ft::IO_ERROR);
    h.Click(fmStart::kFindDevice);

    ASSERT_EQ(h.recorder.boxes.size(), 1u);
    const RecordedBox& box = h.recorder.boxes[0];
    EXPECT_EQ(box.request.text, "USB Connection Failure!");
    EXPECT_EQ(box.request.title, "USB Error");
    EXPECT_FALSE(box.request.stopIcon);
    EXPECT_TRUE(box.windowClosed);
    EXPECT_FALSE(box.windowVisible);
    EXPECT_EQ(h.form->ExitStatus(), 1);
    EXPECT_FALSE(h.board.IsOpen());
    EXPECT_EQ(h.board.Closes(), 1);
  }
}

// The operator closes the window from inside the sixth pump of an update: the link closes at
// once, the update stops at its next pump, and nothing touches the driver or the window after.
TEST(WindowCommands, CloseDuringUpdateEndsItQuietly) {
  Harness h;
  h.Load();
  h.Click(fmStart::kFindDevice);
  int pumps = 0;
  std::size_t commandsAtClose = 0;
  int purgesAtClose = 0;
  FlashWhile(h, [&] {
    if (++pumps != 6) return;
    h.form->close();
    commandsAtClose = h.board.Commands().size();
    purgesAtClose = h.board.Purges();
  });

  EXPECT_TRUE(h.form->IsClosed());
  EXPECT_TRUE(h.recorder.boxes.empty());
  ASSERT_GE(pumps, 6);
  EXPECT_EQ(h.board.Closes(), 1);
  EXPECT_EQ(h.board.Commands().size(), commandsAtClose);
  EXPECT_EQ(h.board.Purges(), purgesAtClose);
  EXPECT_NE(h.form->OpResult, 0);
  EXPECT_EQ(h.form->ExitStatus(), 0);
  EXPECT_EQ(h.form->StatusText->text().toStdString(), "Flashing device...");
}

// Keys reach the window and its buttons but change nothing: no default button, no shortcut.
TEST(WindowCommands, KeysChangeNothing) {
  Harness h;
  h.Load();
  h.Click(fmStart::kFindDevice);
  const std::size_t commandsBefore = h.board.Commands().size();
  for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_F4, Qt::Key_A}) {
    for (QWidget* target :
         std::vector<QWidget*>{h.form.get(), h.form->Button[fmStart::kFlashDevice],
                               h.form->Button[fmStart::kAbortFlash]}) {
      for (auto modifier : {Qt::AltModifier, Qt::NoModifier}) {
        QKeyEvent press(QEvent::KeyPress, key, modifier);
        QCoreApplication::sendEvent(target, &press);
      }
    }
  }
  EXPECT_EQ(StateOf(*h.form), kFound);
  EXPECT_EQ(h.board.Commands().size(), commandsBefore);
  EXPECT_FALSE(h.form->IsClosed());
}

}  // namespace
}  // namespace qvx::ui::test
