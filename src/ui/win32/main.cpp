#include <windows.h>

#include <shellapi.h>

#include <string>
#include <utility>
#include <vector>

#include "app/startup.h"
#include "app/texts.h"
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

// An answer on standard output, a refusal on standard error, when the program has them (started
// from a console or a script); else in a box.
void Say(const std::string& text, int status) {
  HANDLE stream = GetStdHandle(status == 0 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  const std::string line = text + "\n";
  DWORD written = 0;
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE ||
      WriteFile(stream, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) == FALSE) {
    qvx::win32::ShowMessageBox(nullptr, status == 0
                                            ? qvx::Message(text, qvx::text::kApplicationTitle)
                                            : qvx::StopBox(text));
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  qvx::Startup startup = qvx::ParseStartup(Arguments(), qvx::win32::LoadProgramResource);
  if (startup.exitStatus) {
    Say(startup.message, *startup.exitStatus);
    return *startup.exitStatus;
  }
  qvx::SystemDriver driver;
  qvx::win32::Win32Window window(instance, driver, std::move(startup.image));
  window.Form().Form_Load();
  // A failed start-up check has ended the program before any event loop ran.
  if (window.IsClosed()) return window.Form().ExitStatus();
  return window.Run();
}
