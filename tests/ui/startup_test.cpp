#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLockFile>
#include <functional>
#include <string>

#include "ui/instance_lock.h"
#include "ui/window_texts.h"
#include "window_harness.h"

namespace qvx::ui::test {
namespace {

using board::Call;

// Every failed check shows its one box, never the window, leaves the link closed and ends the
// program with status 1.
TEST(WindowStartup, EveryFailedCheckShowsOnlyItsBoxAndEnds) {
  struct Case {
    const char* name;
    std::function<void(board::VirtualBoard&)> setUp;
    bool notInUpdateMode;  // else "hardware not found", told after the window closed
  };
  const Case cases[] = {
      {"no board", [](board::VirtualBoard& b) { b.SetAttached(false); }, false},
      {"latency call fails",
       [](board::VirtualBoard& b) { b.FailCall(Call::SetLatency, 1, ft::IO_ERROR); }, false},
      {"bad signature", [](board::VirtualBoard& b) { b.SetSignature("SK"); }, true},
      {"hardware 0.0", [](board::VirtualBoard& b) { b.SetVersions(0x00, 0x11); }, true},
      {"no reply to SI", [](board::VirtualBoard& b) { b.SwallowReply("SI", 1); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    c.setUp(h.board);
    h.Load();

    ASSERT_EQ(h.recorder.boxes.size(), 1u);
    const RecordedBox& box = h.recorder.boxes[0];
    EXPECT_EQ(box.request.text,
              c.notInUpdateMode ? "Quorvex Not in update mode! " : "Quorvex hardware not found!");
    EXPECT_EQ(box.request.title, c.notInUpdateMode ? "Quorvex Updater" : "USB Error!");
    EXPECT_EQ(box.request.stopIcon, c.notInUpdateMode);
    EXPECT_EQ(box.request.systemModal, c.notInUpdateMode);
    EXPECT_EQ(box.windowClosed, !c.notInUpdateMode);
    EXPECT_EQ(h.shows, 0);
    EXPECT_TRUE(h.form->IsClosed());
    EXPECT_EQ(h.form->ExitStatus(), 1);
    EXPECT_FALSE(h.board.IsOpen());
    EXPECT_EQ(h.board.Closes(), h.board.Opens());
  }
}

TEST(WindowStartup, HardwareZeroPointOnePassesAndShowsTheStartState) {
  Harness h;
  h.board.SetVersions(0x01, 0x11);
  h.Load();

  EXPECT_TRUE(h.recorder.boxes.empty());
  EXPECT_EQ(h.shows, 1);
  EXPECT_EQ(StateOf(*h.form), StartState());
  EXPECT_TRUE(h.board.IsOpen());
  EXPECT_EQ(h.form->windowTitle().toStdString(),
            WindowCaption(QVX_VERSION_MAJOR, QVX_VERSION_MINOR));
  EXPECT_EQ(WindowCaption(10, 12), "Quorvex Updater v10.12");
}

TEST(WindowStartup, SecondInstanceShowsOnlyItsBoxAndLeavesTheFirstAlone) {
  Harness first;
  first.Load();
  Harness second;
  second.Load();

  const std::string program =
      QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
  ASSERT_EQ(second.recorder.boxes.size(), 1u);
  const MessageBoxRequest& box = second.recorder.boxes[0].request;
  EXPECT_EQ(box.text, program + " already running! ");
  EXPECT_EQ(box.title, "Quorvex Updater");
  EXPECT_TRUE(box.stopIcon && box.systemModal);
  EXPECT_FALSE(second.recorder.boxes[0].windowClosed);  // the box comes first
  EXPECT_EQ(second.shows, 0);
  EXPECT_EQ(second.form->ExitStatus(), 1);
  EXPECT_EQ(second.board.Opens(), 0);

  EXPECT_TRUE(first.form->isVisible());
  first.Click(fmStart::kFindDevice);
  EXPECT_TRUE(StateOf(*first.form).buttons[fmStart::kFlashDevice]);
  EXPECT_TRUE(first.recorder.boxes.empty());
}

// A lock goes with its window, and a crashed instance's lock file must not block the next start.
TEST(WindowStartup, LockIsReleasedWithTheWindowAndAStaleOneIsTakenOver) {
  {
    Harness first;
    first.Load();
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    QLockFile lock(InstanceLock::DefaultPath());
    _exit(lock.tryLock(0) ? 0 : 1);  // no unlock: the file stays as a crash would leave it
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);  // the first lock was released
  ASSERT_TRUE(QFileInfo::exists(InstanceLock::DefaultPath()));

  Harness h;
  h.Load();
  EXPECT_TRUE(h.recorder.boxes.empty());
  EXPECT_TRUE(h.form->isVisible());
}

}  // namespace
}  // namespace qvx::ui::test
