#include <QApplication>

#include "link/system_driver.h"
#include "ui/fm_start.h"
#include "ui/resource_loader.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The window decides when the program ends (a link failure ends it only after its box).
  QApplication::setQuitOnLastWindowClosed(false);

  qvx::SystemDriver driver;
  qvx::ui::fmStart form(driver, qvx::LoadEmbeddedResource);
  form.Form_Load();
  if (form.IsClosed()) return form.ExitStatus();
  return QApplication::exec();
}
