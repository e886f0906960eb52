#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLockFile>
#include <functional>
#include <ostream>
#include <string>

#include "ui/instance_lock.h"
#include "ui/window_texts.h"
#include "window_harness.h"

namespace qvx::ui::test {
namespace {

using board::Call;

struct StartupCase {
  const char* name;
  std::function<void(board::VirtualBoard&)> setUp;
  const char* text;
  const char* title;
  bool stopIcon;
  bool closedBeforeBox;
};
void PrintTo(const StartupCase& c, std::ostream* out) {
  *out << c.name;
}

class StartupFailure : public testing::TestWithParam<StartupCase> {};

// Every failed check shows its one box, never the window, leaves the link closed and ends the
// program with status 1.
TEST_P(StartupFailure, ShowsOnlyItsBoxAndEnds) {
  const StartupCase& c = GetParam();
  Harness h;
  c.setUp(h.Board());
  h.Load();

  ASSERT_EQ(h.recorder.boxes.size(), 1u);
  const RecordedBox& box = h.recorder.boxes[0];
  EXPECT_EQ(box.request.text, c.text);
  EXPECT_EQ(box.request.title, c.title);
  EXPECT_EQ(box.request.stopIcon, c.stopIcon);
  EXPECT_EQ(box.request.systemModal, c.stopIcon);  // the stop boxes are the system-modal ones
  EXPECT_EQ(box.windowClosed, c.closedBeforeBox);
  EXPECT_FALSE(box.windowVisible);

  EXPECT_EQ(h.shows, 0);
  EXPECT_TRUE(h.form->IsClosed());
  EXPECT_EQ(h.form->ExitStatus(), 1);
  EXPECT_FALSE(h.Board().IsOpen());
  EXPECT_EQ(h.form->Link.DeviceHandle, nullptr);
  EXPECT_EQ(h.Board().Closes(), h.Board().Opens());
}

INSTANTIATE_TEST_SUITE_P(
    Window, StartupFailure,
    testing::Values(
        StartupCase{"NoBoard", [](board::VirtualBoard& b) { b.SetAttached(false); },
                    "Quorvex hardware not found!", "USB Error!", false, true},
        StartupCase{"LatencyCallFails",
                    [](board::VirtualBoard& b) { b.FailCall(Call::SetLatency, 1, ft::IO_ERROR); },
                    "Quorvex hardware not found!", "USB Error!", false, true},
        StartupCase{"BadSignature", [](board::VirtualBoard& b) { b.SetSignature("SK"); },
                    "Quorvex Not in update mode! ", "Quorvex Updater", true, false},
        StartupCase{"HardwareZero", [](board::VirtualBoard& b) { b.SetVersions(0x00, 0x11); },
                    "Quorvex Not in update mode! ", "Quorvex Updater", true, false},
        StartupCase{"NoReplyToSI", [](board::VirtualBoard& b) { b.SwallowReply("SI", 1); },
                    "Quorvex Not in update mode! ", "Quorvex Updater", true, false}),
    [](const testing::TestParamInfo<StartupCase>& info) { return info.param.name; });

TEST(WindowStartup, HardwareZeroPointOnePassesAndShowsTheStartState) {
  Harness h;
  h.Board().SetVersions(0x01, 0x11);
  h.Load();

  EXPECT_TRUE(h.recorder.boxes.empty());
  EXPECT_EQ(h.shows, 1);
  EXPECT_TRUE(h.form->isVisible());
  EXPECT_EQ(StateOf(*h.form), StartState());
  EXPECT_EQ(h.form->ExitStatus(), 0);
  EXPECT_TRUE(h.Board().IsOpen());
  EXPECT_EQ(h.form->windowTitle().toStdString(),
            WindowCaption(QVX_VERSION_MAJOR, QVX_VERSION_MINOR));
  EXPECT_EQ(h.form->Image.ImageResourceId, 100);
  EXPECT_EQ(h.form->Image.ImageBuffer.size(), kImageSize);
  EXPECT_EQ(h.form->Image.ReferenceImage.size(), kImageSize);
  EXPECT_EQ(h.form->Image.ResourceData.size(), kContainerSize);
}

TEST(WindowStartup, CaptionCarriesTheVersionInDecimal) {
  EXPECT_EQ(WindowCaption(1, 2), "Quorvex Updater v1.2");
  EXPECT_EQ(WindowCaption(10, 0), "Quorvex Updater v10.0");
  EXPECT_EQ(WindowCaption(1, 12), "Quorvex Updater v1.12");
}

TEST(WindowStartup, SecondInstanceShowsOnlyItsBoxAndLeavesTheFirstAlone) {
  Harness first;
  first.Load();
  ASSERT_TRUE(first.form->isVisible());

  Harness second;
  second.Load();

  const std::string program =
      QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
  ASSERT_EQ(second.recorder.boxes.size(), 1u);
  const MessageBoxRequest& box = second.recorder.boxes[0].request;
  EXPECT_EQ(box.text, program + " already running! ");
  EXPECT_EQ(box.title, "Quorvex Updater");
  EXPECT_TRUE(box.stopIcon);
  EXPECT_TRUE(box.systemModal);
  EXPECT_FALSE(second.recorder.boxes[0].windowClosed);  // the box comes first
  EXPECT_TRUE(second.form->IsClosed());
  EXPECT_EQ(second.shows, 0);
  EXPECT_EQ(second.form->ExitStatus(), 1);
  EXPECT_EQ(second.Board().Opens(), 0);

  // The first one still works.
  EXPECT_TRUE(first.form->isVisible());
  first.Click(fmStart::kFindDevice);
  EXPECT_EQ(StateOf(*first.form).buttons[fmStart::kFlashDevice], true);
  EXPECT_TRUE(first.recorder.boxes.empty());
}

TEST(WindowStartup, LockIsReleasedWithTheWindow) {
  {
    Harness first;
    first.Load();
  }
  Harness next;
  next.Load();
  EXPECT_TRUE(next.recorder.boxes.empty());
  EXPECT_TRUE(next.form->isVisible());
}

// A crashed instance leaves its lock file behind; its dead process must not block the next start.
TEST(WindowStartup, StaleLockOfACrashedInstanceIsTakenOver) {
  const QString path = InstanceLock::DefaultPath();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    QLockFile lock(path);
    _exit(lock.tryLock(0) ? 0 : 1);  // no unlock: the file stays as a crash would leave it
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(QFileInfo::exists(path));

  Harness h;
  h.Load();
  EXPECT_TRUE(h.recorder.boxes.empty());
  EXPECT_TRUE(h.form->isVisible());
}

}  // namespace
}  // namespace qvx::ui::test
