#pragma once

#include <QWidget>
#include <array>
#include <string>

#include "app/fm_start.h"
#include "ui/qt/instance_lock.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace qvx::qt {

// The form's window in Qt: it creates the controls, draws, and forwards clicks, keys and closes
// to the form's logic, which decides everything else.
class QtWindow : public QWidget, public FormView {
 public:
  QtWindow(D2xx& driver, ResourceLoader loader, bool demo = false);

  fmStart& Form() { return form_; }

  // The controls, in the order the window creates them.
  std::array<QPushButton*, kButtonCount> Button{};
  QProgressBar* ProgressBar = nullptr;
  QLabel* Picture1 = nullptr;
  QLabel* StatusText = nullptr;
  QLabel* DeviceName = nullptr;

  // FormView
  void SetProgressValue(int value) override;
  void SetProgressMaximum(int maximum) override;
  void SetProgressVisible(bool visible) override;
  void SetButtonVisible(qvx::Button button, bool visible) override;
  void SetFocus(std::optional<qvx::Button> button) override;
  void SetStatusText(const std::string& text) override;
  void ProcessMessages() override;
  void ShowMessage(const Message& message) override;
  bool IsClosed() const override { return closed_; }
  void SetCaption(const std::string& caption) override;
  void SetDeviceName(const std::string& text) override;
  void Show() override;
  void Close() override;
  void EndProgram(int status) override;
  bool AnotherInstanceRunning() override;
  std::string ProgramName() const override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  // Creates the button and forwards its clicks with its index.
  QWidget* AddButton(qvx::Button which);

  InstanceLock instance_;
  bool closed_ = false;
  fmStart form_;
};

}  // namespace qvx::qt
