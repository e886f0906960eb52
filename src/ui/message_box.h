#pragma once

#include <functional>
#include <string>

namespace qvx::ui {

inline constexpr char kApplicationTitle[] = "Quorvex Updater";

// One modal box with an OK button. The title is always resolved: a box with no title of its own
// carries the application title.
struct MessageBoxRequest {
  std::string text;
  std::string title;
  bool stopIcon = false;
  bool systemModal = false;  // application-modal and kept above every other window
};

using MessageBoxHandler = std::function<void(const MessageBoxRequest&)>;

// Every box of the program goes through here; it returns once the operator pressed OK.
// An empty title stands for "no title of its own".
void ShowMessageBox(const std::string& text, const std::string& title, bool stopIcon = false,
                    bool systemModal = false);

// Replaces the handler (tests record boxes instead of blocking on them) and returns the old one.
// An empty handler restores the QMessageBox one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace qvx::ui
