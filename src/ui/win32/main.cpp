#include <windows.h>

#include <shellapi.h>

#include <string>
#include <utility>
#include <vector>

#include "app/startup.h"
#include "app/texts.h"
#include "board/demo_rack.h"
#include "link/system_driver.h"
#include "ui/win32/message_box.h"
#include "ui/win32/resource_loader.h"
#include "ui/win32/wide_text.h"
#include "ui/win32/win32_window.h"

namespace {

// The arguments after the program's name, in UTF-8 whatever the code page.
std::vector<std::string> Arguments() {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; wide != nullptr && i < count; ++i)
    arguments.push_back(qvx::win32::Narrow(wide[i]));
  LocalFree(wide);
  return arguments;
}

// Answers and refusals in a box: a window program does not own the console it may be started
// from, which has shown its prompt again and dropped the status before the program could write.
void Say(const std::string& text, int status) {
  qvx::win32::ShowMessageBox(nullptr,
                             qvx::Message(text, qvx::text::kApplicationTitle, status != 0));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  qvx::Startup startup =
      qvx::ParseStartup(Arguments(), qvx::win32::LoadProgramResource, {}, qvx::AnswersIn::Box);
  if (startup.exitStatus) {
    Say(startup.message, *startup.exitStatus);
    return *startup.exitStatus;
  }
  qvx::SystemDriver system;
  qvx::board::DemoRack demo(1, false, qvx::board::DemoFolder());
  qvx::D2xx* driver = &system;
  if (startup.demo) driver = &demo;
  qvx::win32::Win32Window window(instance, *driver, std::move(startup.image), startup.demo);
  window.Form().Form_Load();
  // A failed start-up check has ended the program before any event loop ran.
  if (window.IsClosed()) return window.Form().ExitStatus();
  return window.Run();
}
