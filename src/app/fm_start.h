#pragma once

#include <array>
#include <cstdint>

#include "app/board_session.h"
#include "app/form_view.h"

namespace qvx {

// The program's one window as logic, without a toolkit: the start-up checks, the four commands,
// which controls show in which state, every text and box. It runs the board's operations through
// its session and turns their events into the bar and the message pump. A front end's window
// creates the controls, draws, and forwards its clicks, keys and closes here.
class fmStart : private UpdateEvents {
 public:
  // Causes of a close, as Form_QueryUnload receives them.
  static constexpr std::int16_t kClosedByOperator = 0;
  static constexpr std::int16_t kClosedByCode = 1;

  // `demo`: the driver is a virtual board, and the caption says so.
  fmStart(FormView& view, D2xx& driver, ResourceLoader loader, bool demo = false);

  // The result of the last command: cleared by Button_Click, set from the session's outcome by
  // CheckDevice and FlashDevice, tested by Button_Click.
  std::int16_t OpResult = op::kSuccess;

  // Start-up checks; shows the window only when all of them pass.
  void Form_Load();
  void Form_QueryUnload(std::int16_t& cancel, std::int16_t unloadMode);
  void Form_Unload(std::int16_t& cancel);
  void Form_KeyDown(std::int16_t keyCode, std::int16_t shift);
  void Button_Click(std::int16_t index);
  void CheckDevice();
  // The window's side of an update around the session's: the controls of the flashing state,
  // then the one box of a failure.
  void FlashDevice();

  // The view calls this once when its window closes, whoever closed it. A close by the operator
  // also ends the program.
  void WindowClosed(bool byOperator);

  // The program's exit status: 0 unless a start-up check or a link failure ended it.
  int ExitStatus() const { return exitStatus_; }

 private:
  // UpdateEvents
  void Started(Purpose purpose, int blocks, int progressMaximum) override;
  void BlockStarted(int number) override;
  bool StopNow() override;
  // Never pumps: a close shows only at the next StopNow.
  bool StopRequested() override { return view_.IsClosed(); }

  // Shows exactly these buttons and focuses the first of them in the tab order, so that Space
  // presses it with no Tab first (none: the window keeps the focus).
  void ShowButtons(const std::array<bool, kButtonCount>& visible);
  void ShowStartState();
  void ShowCompletion();
  void EndProgram(int status);

  FormView& view_;
  const bool demo_;
  BoardSession session_;  // the board: its image arrays, link and engine
  int exitStatus_ = 0;
};

}  // namespace qvx
