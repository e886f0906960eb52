#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <array>
#include <iterator>
#include <sstream>
#include <tuple>
#include <vector>

#include "app/startup.h"
#include "support/fixtures.h"
#include "ui/qt/application.h"
#include "ui/qt/message_box.h"
#include "ui/qt/qt_options.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/resource_loader.h"

namespace qvx::test {
namespace {

QPushButton* ButtonOf(qt::QtWindow& window, Button button) {
  return window.Button[static_cast<std::size_t>(button)];
}

// The window draws what the form decides and forwards the operator's clicks and closes.
TEST(QtWindow, ShowsTheFormsStatesAndForwardsClicksAndCloses) {
  board::VirtualBoard board;
  qt::QtWindow window(board, LoaderOf(ContainerOf(TestImage())));
  window.Form().Form_Load();
  ASSERT_TRUE(window.isVisible());
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_FALSE(window.Picture1->pixmap().isNull());
  ButtonOf(window, Button::FindDevice)->click();
  EXPECT_EQ(window.DeviceName->text(), "Quorvex - Hardware v2.1");
  EXPECT_EQ(window.focusWidget(), ButtonOf(window, Button::AbortFlash));
  int barSeen = 0;  // the bar as the event loop sees it while the flash runs
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] { barSeen = window.ProgressBar->value(); });
  watch.start(0);
  ButtonOf(window, Button::FlashDevice)->click();
  EXPECT_GT(barSeen, 0);
  EXPECT_EQ(window.ProgressBar->maximum(), 55);  // as the engine sets it for a whole update
  EXPECT_EQ(window.StatusText->alignment(), Qt::AlignCenter);
  EXPECT_EQ(window.StatusText->text(), "Flash Complete!");
  EXPECT_TRUE(ButtonOf(window, Button::Ok)->isVisible());
  EXPECT_FALSE(window.ProgressBar->isVisible());

  window.close();
  EXPECT_TRUE(window.IsClosed());
  EXPECT_FALSE(board.IsOpen());
}

// A link lost on Find Device shows its box, then ends the running program with status 1.
TEST(QtWindow, ALostLinkEndsTheEventLoopWithStatusOne) {
  board::VirtualBoard board;
  qt::QtWindow window(board, LoaderOf(ContainerOf(TestImage())));
  window.Form().Form_Load();
  board.FailCall(board::Call::Purge, 1, ft::IO_ERROR);
  QTimer dismiss;  // presses OK on every box, once it has read its text
  QString said;
  QObject::connect(&dismiss, &QTimer::timeout, [&said] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      said = box->text();
      box->close();
    }
  });
  dismiss.start(10);
  QTimer::singleShot(0, [&] { ButtonOf(window, Button::FindDevice)->click(); });
  QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });  // a hang fails, never blocks
  EXPECT_EQ(QApplication::exec(), 1);
  EXPECT_EQ(said, "USB Connection Failure!");
  EXPECT_FALSE(board.IsOpen());
}

// A box has the form's title and text as plain text, one OK button and is application-modal;
// a stop box has the stop icon and stays above every other window, as a system-modal box does.
TEST(QtWindow, BoxesShowTheirIconAndModality) {
  using Seen = std::tuple<QMessageBox::Icon, bool, QString, QString, Qt::WindowModality,
                          Qt::TextFormat, QMessageBox::StandardButtons>;
  std::vector<Seen> seen;
  QTimer dismiss;
  QObject::connect(&dismiss, &QTimer::timeout, [&seen] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      seen.emplace_back(box->icon(), box->windowFlags().testFlag(Qt::WindowStaysOnTopHint),
                        box->windowTitle(), box->text(), box->windowModality(), box->textFormat(),
                        box->standardButtons());
      box->close();
    }
  });
  dismiss.start(10);
  qt::ShowMessageBox({"<b>not found</b>", "USB Error!"});
  qt::ShowMessageBox({"Step 2", "Quorvex Updater", /*stopIcon=*/true, /*systemModal=*/true});
  const auto modal = std::make_tuple(Qt::ApplicationModal, Qt::PlainText, QMessageBox::Ok);
  EXPECT_EQ(
      seen,
      (std::vector<Seen>{
          std::tuple_cat(
              std::make_tuple(QMessageBox::NoIcon, false, "USB Error!", "<b>not found</b>"), modal),
          std::tuple_cat(std::make_tuple(QMessageBox::Critical, true, "Quorvex Updater", "Step 2"),
                         modal)}));
}

// Qt's options pass through with their values, in both spellings: a flag never takes the next
// argument along, and no option leaves its value behind as a stray argument.
TEST(QtOptions, PassThroughWithTheirValues) {
  std::istringstream line(
      "-reverse -platform offscreen -widgetcount --platformpluginpath p -qmljsdebugger=port:1 "
      "-platformtheme t -style=fusion -plugin p -stylesheet=s -qwindowgeometry 1x1 -qwindowicon i "
      "-qwindowtitle t -session s -display :0 -geometry 1x1 -style fusion -stylesheet s -reverse");
  const std::vector<std::string> arguments(std::istream_iterator<std::string>(line), {});
  EXPECT_EQ(ParseStartup(arguments, LoaderOf(std::nullopt), qt::kQtOptions).message, "");
}

// A bus the desktop names, or the user's own socket in the runtime folder, is Qt's to use; without
// either, Qt is given an address that starts nothing.
TEST(SessionBus, TheDesktopsOwnOrNone) {
  QTemporaryDir withBus, without;
  sockaddr_un address{AF_UNIX, {}};
  const QByteArray path = withBus.filePath("bus").toLocal8Bit();
  std::copy_n(path.constData(), path.size(), address.sun_path);
  const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const QByteArray runtimeBefore = qgetenv("XDG_RUNTIME_DIR");
  for (const auto& [named, runtime, used] : std::vector<std::array<QByteArray, 3>>{
           {"unix:path=/run/user/1000/bus", "", "unix:path=/run/user/1000/bus"},
           {"", withBus.path().toLocal8Bit(), ""},
           {"", without.path().toLocal8Bit(), "disabled:"},
           {"", "", "disabled:"}}) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", named);
    qputenv("XDG_RUNTIME_DIR", runtime);
    qt::StayOffAbsentSessionBus();
    EXPECT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS"), used) << runtime.toStdString();
  }
  ::close(socket);
  qputenv("XDG_RUNTIME_DIR", runtimeBefore);
}

TEST(EmbeddedResources, ServeTheFirmwareContainerAndNothingForOtherNames) {
  const auto container = LoadEmbeddedResource("JPG", kImageResourceId);
  ASSERT_TRUE(container.has_value());
  EXPECT_EQ(container->size(), kContainerSize);
  for (const char* type : {"JPG/../JPG", "", "PNG"}) EXPECT_FALSE(LoadEmbeddedResource(type, 100));
  EXPECT_FALSE(LoadEmbeddedResource("JPG", 101));
}

}  // namespace
}  // namespace qvx::test

int main(int argc, char** argv) {
  // Offscreen, and with a lock folder of their own, so no other copy of the program running on
  // this machine can make the window see a second instance and wait on its box.
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  qvx::qt::StayOffAbsentSessionBus();
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
