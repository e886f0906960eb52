// Plays the operator from inside Wine: waits until the window titled TITLE shows a control of
// CLASS with TEXT (and, for focused, until it has the keyboard focus), then clicks it, or closes
// the window. Exits 0 once done, 1 after 60 s.
//   qvx-operator TITLE CLASS TEXT [click|close|focused]
#include <windows.h>

#include <string_view>

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  const std::wstring_view action = argc > 4 ? argv[4] : L"";
  for (int tries = 0; tries < 600; ++tries, Sleep(100)) {
    HWND window = FindWindowW(nullptr, argv[1]);
    HWND control = window != nullptr ? FindWindowExW(window, nullptr, argv[2], argv[3]) : nullptr;
    if (control == nullptr || IsWindowVisible(control) == FALSE) continue;
    GUITHREADINFO focus{};
    focus.cbSize = sizeof(focus);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &focus);
    if (action == L"focused" && focus.hwndFocus != control) continue;
    if (action == L"click") PostMessageW(control, BM_CLICK, 0, 0);
    if (action == L"close") PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
  }
  return 1;
}
