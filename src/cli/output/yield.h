#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cli/output/record_reader.h"

namespace qvx::cli {

// How many for each cause ("Step 1", "unplugged", ...), the most first.
using Causes = std::vector<std::pair<std::string, long long>>;

// One image's boards, each counted once however many times it was tried.
struct ImageYield {
  std::string sha256;
  std::string version;
  std::string source;
  long long boards = 0;
  long long withoutSerial = 0;  // records that name no board, each counted as one
  long long firstPass = 0;      // good at their first attempt
  long long passed = 0;         // good by their last record that compared
  long long unconfirmed = 0;    // passed, but their last good record has a note
  long long attempts = 0;
  long long mostAttempts = 0;
  Causes failedLast;      // of the boards whose last record that compared failed
  Causes failedAttempts;  // of every attempt that failed
};

// The boards of each image, from records given in any order, each placed by its time. An attempt
// is a flash or watch; a verify is none, but one that compared says in the end whether the board
// holds the image: "up to date" confirms it, "differs" fails it.
class Yield {
 public:
  // A record of a counted command, given once.
  void Add(const Record& record);
  // In the order the images first appeared; the demonstration boards' apart.
  std::vector<ImageYield> Images(bool demo) const;

 private:
  struct Board {
    static constexpr Moment kNever = std::numeric_limits<Moment>::min();
    Moment first = 0;          // of its first attempt
    Moment last = kNever;      // of its last record that compared
    Moment lastGood = kNever;  // of its last good record
    std::uint32_t attempts = 0;
    std::uint32_t lastCause = 0;  // 0 when the last record that compared was good
    bool firstGood = false;
    bool lastNoted = false;  // of the last good record
  };
  struct Image {
    ImageYield facts;
    bool demo = false;
    std::unordered_map<std::string, Board> boards;  // by serial number
    std::vector<Board> unnamed;
    std::vector<long long> failedAttempts;  // by cause
  };

  std::uint32_t CauseOf(const Record& record);
  Causes Sorted(const std::vector<long long>& counts) const;

  std::vector<Image> images_;
  std::unordered_map<std::string, std::size_t> imageIndex_;
  std::vector<std::string> causes_{""};
  std::unordered_map<std::string, std::uint32_t> causeIndex_;
};

}  // namespace qvx::cli
