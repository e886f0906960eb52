#include "app/outcome.h"

namespace qvx {

std::string Outcome::Text() const {
  std::string text = message_.text;
  while (!text.empty() && text.back() == ' ') text.pop_back();  // the boxes' trailing blanks
  for (const std::string& more : {detail_, call_ ? call_->Text() : std::string()}) {
    if (!more.empty()) text += text.empty() ? more : " (" + more + ")";
  }
  return text;
}

}  // namespace qvx
