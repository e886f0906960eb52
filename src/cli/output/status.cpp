#include "cli/output/status.h"

namespace qvx::cli {

std::string StatusHelp() {
  std::string help = "Exit status:\n";
  for (const StatusMeaning& row : kStatusMeanings) {
    std::string code = std::to_string(Code(row.status));
    code.resize(5, ' ');
    help += "  " + code + std::string(row.meaning) + "\n";
  }
  help += "Where several apply, the first in this order wins:";
  for (const Status status : kPrecedence) {
    if (status != Status::Succeeded) {
      help += (status == kPrecedence.front() ? " " : ", ") + std::to_string(Code(status));
    }
  }
  return help + ".\n";
}

}  // namespace qvx::cli
