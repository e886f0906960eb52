#pragma once

#include <string>

namespace qvx {

// Why a file or an image was refused, in words for the operator: what it was and the reason.
struct Problem {
  std::string subject;  // a file's name; empty for the image the program carries
  std::string reason;   // "no such file", "byte 4 of the image is not 0"

  std::string Text() const { return subject.empty() ? reason : subject + ": " + reason; }
};

}  // namespace qvx
