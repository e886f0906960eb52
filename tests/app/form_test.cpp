#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/form_layout.h"
#include "app/startup.h"
#include "support/fixtures.h"

namespace qvx::test {
namespace {

using B = Button;
// The focus goes to the first button shown in the tab order: Abort Flash before Flash Device.
const Shown kStart{{true, false, false, false}, false, "", "", B::FindDevice};
const std::string kHardware = "Quorvex - Hardware v2.1";
const std::string kFirmware = "Firmware: v1.1  -  Upgrading to: v1.6";
const Shown kFound{{false, true, true, false}, false, kFirmware, kHardware, B::AbortFlash};
const Shown kComplete{{false, false, false, true}, false, "Flash Complete!", kHardware, B::Ok};

TEST(FormLoad, EveryFailedCheckShowsOnlyItsBoxAndEndsTheProgram) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> arrange;
    Message box;
    bool closedAtBox;  // the window was closed before the box came up
  };
  const Message kNotInUpdateMode{"Quorvex Not in update mode! ", "Quorvex Updater", true, true};
  const Case cases[] = {
      {"another instance",
       [](Rig& r) { r.view.otherInstance = true; },
       {"quorvex-updater already running! ", "Quorvex Updater", true, true},
       false},
      {"no board",
       [](Rig& r) { r.board.SetAttached(false); },
       {"Quorvex hardware not found!", "USB Error!", /*stopIcon=*/false, /*systemModal=*/false},
       true},
      {"a configuration call fails",
       [](Rig& r) { r.board.FailCall(board::Call::SetLatency, 1, ft::IO_ERROR); },
       {"Quorvex hardware not found!", "USB Error!"},
       true},
      {"wrong signature", [](Rig& r) { r.board.SetSignature("kr"); }, kNotInUpdateMode, false},
      {"no reply", [](Rig& r) { r.board.SwallowReply("SI", 1); }, kNotInUpdateMode, false},
      {"hardware 0.0", [](Rig& r) { r.board.SetVersions(0x00, 0x11); }, kNotInUpdateMode, false},
      {"a driver call of SI fails",
       [](Rig& r) { r.board.FailCall(board::Call::Read, 1, ft::IO_ERROR); }, kNotInUpdateMode,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    c.arrange(rig);
    rig.form.Form_Load();
    EXPECT_EQ(rig.view.boxes, std::vector<Message>{c.box});
    EXPECT_EQ(rig.view.closedAtBox, std::vector<bool>{c.closedAtBox});
    EXPECT_TRUE(rig.view.IsClosed());
    EXPECT_FALSE(rig.view.visible);
    EXPECT_EQ(rig.view.ended, 1);
    EXPECT_FALSE(rig.board.IsOpen());
  }
  // Hardware 0.1 and 1.1 are in update mode: the window shows in its start state, captioned.
  for (const std::uint8_t hardware : {0x01, 0x11}) {
    Rig rig;
    rig.board.SetVersions(hardware, 0x11);
    rig.form.Form_Load();
    EXPECT_TRUE(rig.view.boxes.empty());
    EXPECT_TRUE(rig.view.visible);
    EXPECT_EQ(rig.view.shown, kStart);
    EXPECT_EQ(rig.view.caption, "Quorvex Updater v" + std::to_string(QVX_VERSION_MAJOR) + "." +
                                    std::to_string(QVX_VERSION_MINOR));
    // On a virtual board the caption says so after it.
    board::VirtualBoard virtualBoard;
    virtualBoard.SetVersions(hardware, 0x11);
    FakeView view;
    fmStart demo(view, virtualBoard, LoaderOf(TestContainer()), true);
    view.form = &demo;
    demo.Form_Load();
    EXPECT_EQ(view.caption, rig.view.caption + " (demo)");
  }
}

TEST(Commands, EveryTransitionEndsInItsStateAndResetsKeepTheLinkOpen) {
  const std::vector<std::vector<std::pair<Button, Shown>>> flows{
      {{B::FindDevice, kFound}, {B::AbortFlash, kStart}, {B::FindDevice, kFound}},
      {{B::FindDevice, kFound},
       {B::FlashDevice, kComplete},
       {B::Ok, kStart},
       {B::FindDevice, kFound},
       {B::FlashDevice, kComplete}}};
  for (const auto& flow : flows) {
    Rig rig;
    rig.form.Form_Load();
    for (const auto& [button, after] : flow) {
      const std::size_t commands = rig.board.Commands().size();
      rig.Click(button);
      EXPECT_EQ(rig.view.shown, after);
      if (button == B::AbortFlash) {
        EXPECT_EQ(rig.board.Commands().size(), commands);
      }
    }
    EXPECT_TRUE(rig.view.boxes.empty());
    EXPECT_EQ(rig.board.Opens(), 1);
    EXPECT_TRUE(rig.board.IsOpen());
  }
  // While the update runs, only the bar and the two labels show.
  Rig rig;
  ASSERT_TRUE(rig.Found());
  std::vector<Shown> during;
  rig.view.onPump = [&] { during.push_back(rig.view.shown); };
  rig.Click(B::FlashDevice);
  ASSERT_FALSE(during.empty());
  for (const Shown& s : during) {
    EXPECT_EQ(s, (Shown{{false, false, false, false}, true, "Flashing device...", kHardware, {}}));
  }
}

TEST(CheckDevice, ShowsTheVersionsAsTheBoardAndTheImageGiveThem) {
  struct Case {
    std::uint8_t hardware, firmware;
    std::function<void(board::VirtualBoard&)> after;  // runs after the start-up
    std::string device, status;
  };
  const Case cases[] = {
      {0x1A, 0x15, nullptr, "Quorvex - Hardware v1.10", "Firmware: v1.5  -  Upgrading to: v1.6"},
      // No reply to "SI" between the two purges: hardware 0.0, and the image is still loaded.
      {0x21, 0x15, [](board::VirtualBoard& b) { b.SwallowReply("SI", 1); },
       "Quorvex - Hardware v0.0", "Firmware: v1.5  -  Upgrading to: v1.6"},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.board.SetVersions(c.hardware, c.firmware);
    rig.form.Form_Load();
    if (c.after) c.after(rig.board);
    rig.Click(B::FindDevice);
    EXPECT_EQ(rig.view.shown,
              (Shown{{false, true, true, false}, false, c.status, c.device, B::AbortFlash}));
  }
}

// A refused image shows its box and resets the window, keeping the link; a failed purge closes
// the window, then shows the link's box and ends the program.
TEST(CheckDevice, EachFailureShowsItsBoxAndEndsWhereItShould) {
  Bytes refused = TestImage();
  refused[4] = 1;
  struct Case {
    ResourceLoader loader;
    int failedPurge;  // 0: none
    Message box;
    bool closed;
  };
  const Case cases[] = {
      {LoaderOf(ContainerOf(refused)),
       0,
       {"Device not currently supported for upgrading!", "Device not supported!"},
       false},
      {LoaderOf(TestContainer()), 1, {"USB Connection Failure!", "USB Error"}, true},
      {LoaderOf(TestContainer()), 2, {"USB Connection Failure!", "USB Error"}, true},
  };
  for (const Case& c : cases) {
    Rig rig(0x11, c.loader);
    rig.form.Form_Load();
    if (c.failedPurge > 0) rig.board.FailCall(board::Call::Purge, c.failedPurge, ft::IO_ERROR);
    rig.Click(B::FindDevice);
    EXPECT_EQ(rig.view.boxes, std::vector<Message>{c.box});
    EXPECT_EQ(rig.view.closedAtBox, std::vector<bool>{c.closed});
    EXPECT_EQ(rig.board.IsOpen(), !c.closed);
    EXPECT_EQ(rig.view.ended, c.closed ? std::optional<int>(1) : std::nullopt);
    if (!c.closed) {
      EXPECT_EQ(rig.view.shown, kStart);
    }
  }
}

// Both windows take --image FILE, answer --help and --version, and pass the toolkit's options
// through; anything else ends the program with status 2 and the usage, before any board.
TEST(Startup, TakesAFirmwareFileOrRefusesItWithStatusTwo) {
  const auto dir = std::filesystem::temp_directory_path();
  const std::string good = (dir / "qvx-startup-good.bin").string();
  const std::string missing = (dir / "qvx-startup-missing.bin").string();
  std::ofstream(good, std::ios::binary)
      .write(reinterpret_cast<const char*>(TestImage().data()),
             static_cast<std::streamsize>(TestImage().size()));
  const ToolkitOption toolkit[] = {{"-platform", true}, {"-style=", false}, {"-reverse", false}};
  const std::string usage = "\nUsage: quorvex-updater [--image FILE] [--demo] [--help] [--version]";
  struct Case {
    std::vector<std::string> arguments;
    std::optional<int> status;
    std::string message;
  };
  const Case cases[] = {
      {{}, std::nullopt, ""},
      {{"--platform", "offscreen", "-style=fusion", "-reverse", "--image", good}, std::nullopt, ""},
      {{"--demo"}, std::nullopt, ""},
      {{"--image"}, 2, "quorvex-updater: --image needs a FILE"},
      {{"--image", missing}, 2, "quorvex-updater: " + missing + ": no such file"},
      {{"-reverse", "--version", "--bogus"}, 0, "quorvex-updater " QVX_VERSION},
      {{"--bogus", "--version"}, 2, "quorvex-updater: unknown option: --bogus" + usage},
      {{"-style", "fusion"}, 2, "quorvex-updater: unknown option: -style" + usage},
      {{"firmware.bin"}, 2, "quorvex-updater: unexpected argument: firmware.bin" + usage},
      {{"-reverse", "-platform"}, 2, "quorvex-updater: -platform needs a value"},
  };
  for (const Case& c : cases) {
    const Startup startup = ParseStartup(c.arguments, LoaderOf(std::nullopt), toolkit);
    EXPECT_EQ(startup.exitStatus, c.status);
    EXPECT_EQ(startup.message, c.message);
    if (c.status) continue;
    FirmwareImage image(startup.image);
    image.ImageResourceId = kImageResourceId;
    // None is embedded here.
    EXPECT_EQ(image.LoadFirmwareImage().has_value(), std::ranges::count(c.arguments, good) == 0);
    EXPECT_EQ(startup.demo, std::ranges::count(c.arguments, "--demo") == 1);
  }
  std::filesystem::remove(good);
  const Startup help = ParseStartup({"--help", "--bogus"}, LoaderOf(std::nullopt), toolkit);
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_TRUE(help.message.starts_with(usage.substr(1) + "\n")) << help.message;
  EXPECT_TRUE(help.message.ends_with("it:\n  -platform -style= -reverse")) << help.message;
}

// On Windows the answers go into a box: /? asks for help too, no line is so long that the box
// breaks it, and a refusal leaves the program's name to the box's title. On a terminal /? is an
// argument like any other.
TEST(Startup, AnswersInABoxOnWindows) {
  const auto box = [](std::string argument) {
    return ParseStartup({std::move(argument)}, LoaderOf(std::nullopt), {}, AnswersIn::Box);
  };
  const Startup help = box("/?");
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_TRUE(help.message.starts_with("Usage: quorvex-updater [--image FILE] [--demo]\n\n"));
  EXPECT_EQ(box("-h").message, help.message);
  std::istringstream lines(help.message);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 56U) << line;
  EXPECT_EQ(box("--bogus").message,
            "unknown option: --bogus\n\nUsage: quorvex-updater [--image FILE] [--demo]\n"
            "quorvex-updater /? shows the options.");
  EXPECT_EQ(box("--image").message, "--image needs a FILE");
  EXPECT_EQ(ParseStartup({"/?"}, LoaderOf(std::nullopt)).exitStatus, 2);
}

// Each control within a pixel of where the window's design puts it (in twips, 15 a pixel), in
// its place in the tab order; whole factors of the scale exact, others to the nearest pixel.
TEST(Layout, PlacesEachControlAsDesignedAndScalesItByTheDpi) {
  struct Designed {
    Control control;
    int left, top, width, height;  // twips
    int tabIndex;
  };
  const Designed design[] = {
      {Control::FindDevice, 1613, 3240, 1815, 495, 3},
      {Control::Ok, 1980, 3240, 1080, 495, 0},
      {Control::ProgressBar, 1260, 3270, 2535, 435, 4},
      {Control::Picture1, 1290, 360, 2460, 1860, 2},
      {Control::AbortFlash, 2813, 3240, 1455, 495, 1},
      {Control::FlashDevice, 773, 3240, 1455, 495, 5},
      {Control::StatusText, 525, 2760, 3975, 255, 7},
      {Control::DeviceName, 540, 2400, 3975, 255, 6},
  };
  EXPECT_EQ(std::make_pair(kClientWidth * 15, kClientHeight * 15), std::make_pair(5040, 4095));
  ASSERT_EQ(std::size(design), kControls.size());
  for (std::size_t i = 0; i < std::size(design); ++i) {
    const Designed& d = design[i];
    const ControlLayout& c = kControls.at(i);  // created in this order
    EXPECT_EQ(std::make_pair(c.control, c.tabIndex), std::make_pair(d.control, d.tabIndex));
    const int twips[] = {d.left, d.top, d.width, d.height};
    const int pixels[] = {c.rect.left, c.rect.top, c.rect.width, c.rect.height};
    for (int k = 0; k < 4; ++k) EXPECT_LE(std::abs(pixels[k] * 15 - twips[k]), 15) << i << k;
  }
  EXPECT_EQ(Scaled(RectOf(Control::FindDevice), 144), (Rect{161, 324, 183, 50}));
  EXPECT_EQ(Scaled(RectOf(Control::FindDevice), 192), (Rect{214, 432, 244, 66}));
}

// The bar runs 0, 0, then every block's number up to 54 of 55; a failure shows its one box and
// the window starts again.
TEST(FlashDevice, ShowsTheBarThenOneBoxOrCompletion) {
  Rig rig;
  ASSERT_TRUE(rig.Found());
  rig.Click(B::FlashDevice);
  const std::vector<int> first(rig.view.values.begin(), rig.view.values.begin() + 3);
  EXPECT_EQ(first, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(std::make_pair(rig.view.values.back(), rig.view.maximum), std::make_pair(54, 55));
  EXPECT_EQ(rig.view.shown, kComplete);

  Rig failing(0x12);
  ASSERT_TRUE(failing.Found());
  failing.board.CorruptReadBack(10, true);
  failing.Click(B::FlashDevice);
  const Message box{
      "Step 3 - Device verify error!  Data is corrupted!  ** DO NOT POWER OFF BOARD!! **  "
      "Re-try update!",
      "Verify Failure!"};
  EXPECT_EQ(failing.view.boxes, std::vector<Message>{box});
  EXPECT_EQ(failing.view.shown, kStart);
  EXPECT_EQ(failing.view.values.back(), 6);
}

// The operator closes the window mid-update: the unload closes the link, and nothing may touch
// the board or the window again.
TEST(FlashDevice, ACloseEndsTheUpdateAtThatPump) {
  const std::pair<int, std::function<void(board::VirtualBoard&)>> cases[] = {
      {1, nullptr},
      {2, [](board::VirtualBoard& b) { b.FailCall(board::Call::Write, 1, ft::IO_ERROR); }},
      // Step 2 reads back wrong: pump 9 is the one after its first comparison.
      {9, [](board::VirtualBoard& b) { b.CorruptReadBack(2 * 4096 + 9, true); }},
      {62, nullptr},
  };
  for (const auto& [pump, fault] : cases) {
    SCOPED_TRACE(pump);
    Rig rig(0x11);
    ASSERT_TRUE(rig.Found());
    if (fault) fault(rig.board);
    rig.view.closeAtPump = rig.view.pumps + pump;
    std::size_t commands = 0;
    int purges = 0;
    rig.view.onPump = [&] {
      commands = rig.board.Commands().size();
      purges = rig.board.Purges();
    };
    rig.Click(B::FlashDevice);
    EXPECT_EQ(rig.view.callsAfterClose, 0);
    EXPECT_TRUE(rig.view.boxes.empty());
    EXPECT_FALSE(rig.board.IsOpen());
    EXPECT_EQ(std::make_pair(rig.board.Commands().size(), rig.board.Purges()),
              std::make_pair(commands, purges));
    EXPECT_EQ(rig.view.ended, 0);
  }
}

}  // namespace
}  // namespace qvx::test
