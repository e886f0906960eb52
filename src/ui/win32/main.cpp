#include <windows.h>

#include "link/system_driver.h"
#include "ui/win32/resource_loader.h"
#include "ui/win32/win32_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  qvx::SystemDriver driver;
  qvx::win32::Win32Window window(instance, driver, qvx::win32::LoadProgramResource);
  window.Form().Form_Load();
  // A failed start-up check has ended the program before any event loop ran.
  if (window.IsClosed()) return window.Form().ExitStatus();
  return window.Run();
}
