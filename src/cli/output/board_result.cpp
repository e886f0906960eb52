#include "cli/output/board_result.h"

namespace qvx::cli {

std::string Verdict(const BoardResult& board) {
  std::string result = board.demo ? board.result + " (demo)" : board.result;
  if (board.notRecorded) return result + ", but not recorded";
  if (!board.note.empty()) return result + ", but " + board.note;
  if (board.step == 0 || board.status == Status::Succeeded) return result;
  return result + (board.unplugged ? " in Step " : " at Step ") + std::to_string(board.step);
}

Status Combined(const std::vector<const BoardResult*>& results) {
  Status status = Status::Succeeded;
  for (const BoardResult* board : results) status = Worse(status, board->status);
  return status;
}

}  // namespace qvx::cli
