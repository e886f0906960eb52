// Plays the operator from inside Wine: waits until the window titled TITLE shows a control of
// CLASS with TEXT anywhere inside it (and, for focused, until it has the keyboard focus), then
// clicks it, or closes the window, or prints where the window is: its frame, its client area
// and its monitor's work area, each as left top right bottom. A TITLE or TEXT that ends in '*'
// stands for any that starts with the rest. Exits 0 once done, 1 after 60 s.
//   qvx-operator TITLE CLASS TEXT [click|close|focused|where]
#include <windows.h>

#include <cstdio>
#include <string_view>
#include <utility>

namespace {

struct Search {
  std::wstring_view title, type, text;
  HWND window = nullptr;
  HWND control = nullptr;
};

bool TextMatches(HWND window, std::wstring_view pattern) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  if (!pattern.ends_with(L'*')) return text == pattern;
  return std::wstring_view(text).starts_with(pattern.substr(0, pattern.size() - 1));
}

// A page of a wizard sits in a dialog of its own inside the window: every descendant counts.
BOOL CALLBACK FindControl(HWND control, LPARAM search) {
  auto& s = *reinterpret_cast<Search*>(search);
  wchar_t type[64] = {};
  GetClassNameW(control, type, 64);
  if (type == s.type && TextMatches(control, s.text) && IsWindowVisible(control))
    s.control = control;
  return s.control == nullptr ? TRUE : FALSE;
}

// Several windows may have the title (a box its program's, an installer a hidden one of its own).
BOOL CALLBACK FindTitled(HWND window, LPARAM search) {
  auto& s = *reinterpret_cast<Search*>(search);
  if (TextMatches(window, s.title)) EnumChildWindows(s.window = window, FindControl, search);
  return s.control == nullptr ? TRUE : FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  const std::wstring_view action = argc > 4 ? argv[4] : L"";
  for (int tries = 0; tries < 600; ++tries, Sleep(100)) {
    Search s{argv[1], argv[2], argv[3]};
    EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&s));
    if (s.control == nullptr) continue;
    GUITHREADINFO focus{};
    focus.cbSize = sizeof(focus);
    GetGUIThreadInfo(GetWindowThreadProcessId(s.window, nullptr), &focus);
    if (action == L"focused" && focus.hwndFocus != s.control) continue;
    if (action == L"click") PostMessageW(s.control, BM_CLICK, 0, 0);
    if (action == L"close") PostMessageW(s.window, WM_CLOSE, 0, 0);
    if (action == L"where") {
      RECT frame{}, client{};
      GetWindowRect(s.window, &frame);
      GetClientRect(s.window, &client);
      MapWindowPoints(s.window, nullptr, reinterpret_cast<POINT*>(&client), 2);
      MONITORINFO monitor{};
      monitor.cbSize = sizeof(monitor);
      GetMonitorInfoW(MonitorFromWindow(s.window, MONITOR_DEFAULTTONEAREST), &monitor);
      for (const auto& [name, r] :
           {std::pair{"frame", frame}, {"client", client}, {"work", monitor.rcWork}})
        std::printf("%s %ld %ld %ld %ld\n", name, r.left, r.top, r.right, r.bottom);
    }
    return 0;
  }
  return 1;
}
