#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <string>

#include "image/firmware_image.h"
#include "link/d2xx.h"
#include "link/qvx_module.h"
#include "ui/instance_lock.h"
#include "update/update_engine.h"
#include "update/update_window.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace qvx::ui {

// The program's one window. It owns, for the whole run, the link, the image arrays and the update
// engine, wired to each other and to the injected driver.
class fmStart : public QWidget, public UpdateWindow {
 public:
  // Indexes of the Button control array.
  static constexpr std::int16_t kFindDevice = 0;
  static constexpr std::int16_t kFlashDevice = 1;
  static constexpr std::int16_t kAbortFlash = 2;
  static constexpr std::int16_t kOk = 3;
  // Causes of a close, as Form_QueryUnload receives them.
  static constexpr std::int16_t kClosedByOperator = 0;
  static constexpr std::int16_t kClosedByCode = 1;

  fmStart(D2xx& driver, ResourceLoader loader, QWidget* parent = nullptr);

  // The controls, in the order the window creates them.
  std::array<QPushButton*, 4> Button{};
  QProgressBar* ProgressBar = nullptr;
  QLabel* Picture1 = nullptr;
  QLabel* StatusText = nullptr;
  QLabel* DeviceName = nullptr;

  // Shared by the image, the engine and the commands.
  std::int16_t OpResult = 0;
  FirmwareImage Image;
  QVXModule Link;
  UpdateEngine Engine;

  // Start-up checks; shows the window only when all of them pass.
  void Form_Load();
  void Form_QueryUnload(std::int16_t& cancel, std::int16_t unloadMode);
  void Form_Unload(std::int16_t& cancel);
  void Form_KeyDown(std::int16_t keyCode, std::int16_t shift);
  void Button_Click(std::int16_t index);
  void CheckDevice();

  // The program's exit status: 0 unless a start-up check or a link failure ended it.
  int ExitStatus() const { return exitStatus_; }

  // UpdateWindow
  int ProgressValue() const override;
  void SetProgressValue(int value) override;
  void SetProgressMaximum(int maximum) override;
  void SetProgressVisible(bool visible) override;
  void SetButtonVisible(int index, bool visible) override;
  void SetStatusText(const std::string& text) override;
  void ProcessMessages() override;
  void ShowMessage(const std::string& text, const std::string& title) override;
  bool IsClosed() const override { return closed_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  void ShowStartState();
  void ShowCompletion();
  void FailLink();
  void EndProgram(int status);

  InstanceLock instance_;
  bool closed_ = false;
  int exitStatus_ = 0;
};

}  // namespace qvx::ui
