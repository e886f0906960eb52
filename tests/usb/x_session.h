#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace qvx::usbemu {

// A private X server (Xvfb) for running the real program, driven with xdotool. The helpers run
// outside the testbed: umockdev's preload is kept from them.
class XSession {
 public:
  // Why no session can start here (Xvfb or xdotool missing), or nothing.
  static std::optional<std::string> Unavailable();

  XSession();
  ~XSession();
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  const std::string& Display() const { return display_; }
  // The first visible window whose title matches the regular expression, or "".
  std::string FindWindow(const std::string& titleRegex) const;
  // A left click at (x, y) in the window's own coordinates.
  void Click(const std::string& window, int x, int y) const;
  // Asks the window to close, as a window manager does (WM_DELETE_WINDOW).
  bool Close(const std::string& window) const;

 private:
  std::string Run(const std::vector<std::string>& argv) const;

  pid_t server_ = -1;
  std::string display_;
};

// Starts a program with `environment` added to this process's and its standard error going to
// `errorLog`; returns its pid.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const std::string& errorLog);

}  // namespace qvx::usbemu
