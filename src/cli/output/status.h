#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace qvx::cli {

// How a run of the program ended, as its exit status.
enum class Status : int {
  Succeeded = 0,
  Failed = 1,        // a board failed: an update, a check, a refused image, a board's word
  Usage = 2,         // wrong usage, a bad image file, a file refused; no board touched
  NoBoard = 3,       // no board found, or one could not be opened or was not in update mode
  NotWritten = 4,    // output, the log or a record could not be written
  Interrupted = 130  // 128 + SIGINT, as shells report a Ctrl-C
};

struct StatusMeaning {
  Status status;
  std::string_view meaning;
};

// The one table of exit statuses: the help, the manual page and the README say these words.
inline constexpr std::array<StatusMeaning, 6> kStatusMeanings{{
    {Status::Succeeded, "every board succeeded"},
    {Status::Failed, "a board failed, or a verify found differences"},
    {Status::Usage, "wrong usage, a bad image file, or a file that cannot be used"},
    {Status::NoBoard, "no board found, or one could not be opened or was not in update mode"},
    {Status::NotWritten, "output, the log or a record could not be written"},
    {Status::Interrupted, "interrupted (Ctrl-C, SIGTERM, SIGHUP; Ctrl-Break or a closed console)"},
}};

// Where several statuses apply, the first of these wins: a run whose account was lost says so
// even when it was interrupted afterwards.
inline constexpr std::array<Status, 6> kPrecedence{Status::Usage,       Status::NotWritten,
                                                   Status::Interrupted, Status::Failed,
                                                   Status::NoBoard,     Status::Succeeded};

// The status that wins of the two.
constexpr Status Worse(Status a, Status b) {
  const auto rank = [](Status s) {
    return std::ranges::find(kPrecedence, s) - kPrecedence.begin();
  };
  return rank(a) <= rank(b) ? a : b;
}

static_assert(Worse(Status::Interrupted, Status::NotWritten) == Status::NotWritten &&
              Worse(Status::Failed, Status::NoBoard) == Status::Failed &&
              Worse(Status::Succeeded, Status::NoBoard) == Status::NoBoard);

constexpr int Code(Status status) {
  return static_cast<int>(status);
}

// The table as the help shows it, and the rule of precedence.
std::string StatusHelp();

}  // namespace qvx::cli
