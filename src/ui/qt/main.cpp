#include <QApplication>
#include <cstdio>
#include <cstring>
#include <utility>

#include "image/firmware_file.h"
#include "link/system_driver.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/resource_loader.h"

namespace {

constexpr int kBadImageFile = 2;  // a wrong --image, refused before the board is touched

}  // namespace

int main(int argc, char** argv) {
  // --image FILE puts a firmware file in place of the embedded image; anything else on the
  // command line is Qt's.
  qvx::ResourceLoader loader = qvx::LoadEmbeddedResource;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--image") != 0) continue;
    if (i + 1 == argc) {
      std::fputs("usage: quorvex-updater [--image FILE]\n", stderr);
      return kBadImageFile;
    }
    qvx::FirmwareFile file = qvx::ReadFirmwareFile(argv[++i]);
    if (!file.error.empty()) {
      std::fprintf(stderr, "quorvex-updater: %s\n", file.error.c_str());
      return kBadImageFile;
    }
    loader = qvx::ServeContainer(std::move(file.container));
  }

  QApplication app(argc, argv);
  // The form decides when the program ends (a link failure ends it only after its box).
  QApplication::setQuitOnLastWindowClosed(false);

  qvx::SystemDriver driver;
  qvx::qt::QtWindow window(driver, std::move(loader));
  window.Form().Form_Load();
  if (window.IsClosed()) return window.Form().ExitStatus();
  return QApplication::exec();
}
