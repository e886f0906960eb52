// The program's own window, driver and embedded image, finding the board through libftdi1.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "link/ftdi_library.h"
#include "link/system_driver.h"
#include "ui/fm_start.h"
#include "ui/message_box.h"
#include "ui/resource_loader.h"
#include "usb/usb_fixture.h"
#include "usb/x_session.h"

namespace qvx::usbemu::test {
namespace {

class ProgramUsbTest : public UsbPathTest {
 protected:
  void SetUp() override {
    UsbPathTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // A lock folder of its own, so that no other test's window counts as a running instance.
    char folder[] = "/tmp/qvx-usb-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    runtimeDir = folder;
    setenv("XDG_RUNTIME_DIR", folder, 1);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    previousBoxes_ = ui::SetMessageBoxHandler(
        [this](const ui::MessageBoxRequest& box) { boxes.push_back(box.title + ": " + box.text); });
  }
  void TearDown() override {
    ui::SetMessageBoxHandler(previousBoxes_);
    if (!runtimeDir.empty()) std::filesystem::remove_all(runtimeDir);
  }

  std::vector<std::string> boxes;
  std::string runtimeDir;

 private:
  ui::MessageBoxHandler previousBoxes_;
};

TEST_F(ProgramUsbTest, FindDeviceShowsTheBoardsVersionsBesideTheImages) {
  board.SetVersions(0x21, 0x15);
  auto& chip = PlugBoard();
  int argc = 1;
  char name[] = "usb_tests";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  SystemDriver system;  // as main() builds it: the vendor's library first, then libftdi1
  ui::fmStart form(system, LoadEmbeddedResource);
  form.Form_Load();
  ASSERT_FALSE(form.IsClosed()) << (boxes.empty() ? "" : boxes.front());
  if (dynamic_cast<const FtdiLibrary*>(system.Provider()) == nullptr) {
    GTEST_SKIP() << "the vendor's driver library is installed here and takes precedence";
  }
  const int flushes = chip.Inspect([](FtdiChip& c) { return c.HostBoundFlushes(); });

  form.Button[ui::fmStart::kFindDevice]->click();

  EXPECT_EQ(boxes, std::vector<std::string>{});
  EXPECT_EQ(form.DeviceName->text().toStdString(), "Quorvex - Hardware v2.1");
  EXPECT_EQ(form.StatusText->text().toStdString().rfind("Firmware: v1.5  -  Upgrading to: v", 0),
            0u)
      << form.StatusText->text().toStdString();
  EXPECT_FALSE(form.Button[ui::fmStart::kFlashDevice]->isHidden());
  EXPECT_FALSE(form.Button[ui::fmStart::kAbortFlash]->isHidden());
  chip.Inspect([&](FtdiChip& c) {
    // The start-up query and Find Device's, with its two purges.
    EXPECT_EQ(board.Commands().size(), 2u);
    EXPECT_EQ(c.HostBoundFlushes(), flushes + 2);
  });
  form.close();
  EXPECT_TRUE(form.IsClosed());
}

// Polls until `done` holds; false when it still does not after `limit`.
template <typename F>
bool WaitFor(F done, std::chrono::seconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// The program as the operator starts it, on an X display, in the testbed: it opens the board
// through libftdi1, Find Device asks the board again, and a close ends it with status 0.
TEST_F(ProgramUsbTest, TheProgramFindsTheBoardAndEndsCleanly) {
  if (auto why = XSession::Unavailable()) GTEST_SKIP() << *why;
  board.SetVersions(0x21, 0x15);
  auto& chip = PlugBoard();
  XSession x;
  std::vector<std::string> environment{"DISPLAY=" + x.Display(), "QT_QPA_PLATFORM=xcb"};
  // Under AddressSanitizer, the reports from X11's system libraries that the window tests
  // suppress as well, with full stacks so that the leak suppressions can tell Qt's D-Bus thread
  // apart.
  if (const char* asan = std::getenv("ASAN_OPTIONS");
      asan != nullptr && std::string(asan).find("suppressions=") == std::string::npos) {
    environment.push_back(std::string("ASAN_OPTIONS=") + asan +
                          ":fast_unwind_on_malloc=0:suppressions=" + QVX_X11_ASAN_SUPP);
  }
  const std::string errorLog = runtimeDir + "/stderr.txt";
  const pid_t program = Spawn({QVX_PROGRAM}, environment, errorLog);
  auto errors = [&] {
    std::ifstream log(errorLog);
    return std::string(std::istreambuf_iterator<char>(log), {});
  };
  ASSERT_GT(program, 0);
  int status = -1;
  auto exited = [&] { return waitpid(program, &status, WNOHANG) == program; };
  std::string window;
  const bool shown = WaitFor([&] {
    window = x.FindWindow("^Quorvex Updater v[0-9]+\\.[0-9]+$");
    return !window.empty() || exited();
  });
  if (!shown || window.empty()) {
    if (!shown) kill(program, SIGKILL);
    FAIL() << "the window never showed; program status " << status << "\n" << errors();
  }
  const auto commands = [&] {
    return chip.Inspect([&](FtdiChip&) { return board.Commands().size(); });
  };
  EXPECT_EQ(commands(), 1u);  // the start-up query
  const int flushes = chip.Inspect([](FtdiChip& c) { return c.HostBoundFlushes(); });

  x.Click(window, 168, 232);  // the centre of "Find Device"
  EXPECT_TRUE(WaitFor([&] { return commands() == 2; }));
  EXPECT_TRUE(WaitFor([&] {
    return chip.Inspect([](FtdiChip& c) { return c.HostBoundFlushes(); }) == flushes + 2;
  }));

  ASSERT_TRUE(x.Close(window));
  if (!WaitFor(exited)) {
    kill(program, SIGKILL);
    waitpid(program, &status, 0);
    FAIL() << "the program did not end after its window closed\n" << errors();
  }
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << errors();
}

}  // namespace
}  // namespace qvx::usbemu::test
