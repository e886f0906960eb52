// The program's own window, driver and embedded image, finding the board through libftdi1.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "link/ftdi_library.h"
#include "link/system_driver.h"
#include "ui/fm_start.h"
#include "ui/message_box.h"
#include "ui/resource_loader.h"
#include "usb/usb_fixture.h"

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
    runtimeDir_ = folder;
    setenv("XDG_RUNTIME_DIR", folder, 1);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    previousBoxes_ = ui::SetMessageBoxHandler(
        [this](const ui::MessageBoxRequest& box) { boxes.push_back(box.title + ": " + box.text); });
  }
  void TearDown() override {
    ui::SetMessageBoxHandler(previousBoxes_);
    if (!runtimeDir_.empty()) std::filesystem::remove_all(runtimeDir_);
  }

  std::vector<std::string> boxes;

 private:
  std::string runtimeDir_;
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

}  // namespace
}  // namespace qvx::usbemu::test
