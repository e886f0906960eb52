#include "cli/output/yield.h"

#include <algorithm>
#include <tuple>

#include "cli/output/results.h"

namespace qvx::cli {

namespace {

bool Good(const std::string& result) {
  return result == "ok" || result == "up to date";
}

}  // namespace

std::uint32_t Yield::CauseOf(const Record& record) {
  if (Good(record.result)) return 0;
  const std::string group = FailureGroup(record.result, record.step);
  const auto [it, fresh] =
      causeIndex_.try_emplace(group, static_cast<std::uint32_t>(causes_.size()));
  if (fresh) causes_.push_back(group);
  return it->second;
}

void Yield::Add(const Record& record) {
  const auto [at, fresh] =
      imageIndex_.try_emplace((record.demo ? "d" : "-") + record.sha256, images_.size());
  if (fresh) {
    Image& image = images_.emplace_back();
    image.facts.sha256 = record.sha256;
    image.facts.version = record.version;
    image.facts.source = record.source;
    image.demo = record.demo;
  }
  Image& image = images_[at->second];
  const bool attempt = record.command != "verify";
  const bool good = Good(record.result);
  // A verify that could not compare (not opened, a read that failed) says nothing of the flash.
  const bool compared = attempt || good || record.result == "differs";
  const std::uint32_t cause = CauseOf(record);
  if (attempt && !good) {
    image.failedAttempts.resize(std::max<std::size_t>(image.failedAttempts.size(), cause + 1));
    ++image.failedAttempts[cause];
  }
  if (record.noSerial) {
    // Nothing ties such a record to any other: it is a board of its own.
    if (attempt) {
      image.unnamed.push_back(
          {record.time, record.time, record.time, 1, cause, good, good && record.noted});
    }
    return;
  }
  Board& board = image.boards[record.serial];
  if (good && record.time >= board.lastGood) {
    board.lastGood = record.time;
    board.lastNoted = record.noted;
  }
  // Of records at the same moment, the one read first is the earlier.
  if (compared && record.time >= board.last) {
    board.last = record.time;
    board.lastCause = cause;
  }
  if (!attempt) return;
  if (board.attempts == 0 || record.time < board.first) {
    board.first = record.time;
    board.firstGood = good;
  }
  ++board.attempts;
}

Causes Yield::Sorted(const std::vector<long long>& counts) const {
  Causes causes;
  for (std::size_t cause = 1; cause < counts.size(); ++cause) {
    if (counts[cause] > 0) causes.emplace_back(causes_[cause], counts[cause]);
  }
  std::ranges::sort(causes, [](const auto& a, const auto& b) {
    return std::tie(b.second, a.first) < std::tie(a.second, b.first);
  });
  return causes;
}

std::vector<ImageYield> Yield::Images(bool demo) const {
  std::vector<ImageYield> yields;
  for (const Image& image : images_) {
    if (image.demo != demo) continue;
    ImageYield yield = image.facts;
    std::vector<long long> failedLast(causes_.size());
    const auto count = [&](const Board& board) {
      if (board.attempts == 0) return;  // only verified
      ++yield.boards;
      yield.attempts += board.attempts;
      yield.mostAttempts = std::max<long long>(yield.mostAttempts, board.attempts);
      yield.firstPass += board.firstGood ? 1 : 0;
      if (board.lastCause != 0) {
        ++failedLast[board.lastCause];
        return;
      }
      ++yield.passed;
      yield.unconfirmed += board.lastNoted ? 1 : 0;
    };
    for (const auto& [serial, board] : image.boards) count(board);
    for (const Board& board : image.unnamed) count(board);
    yield.withoutSerial = static_cast<long long>(image.unnamed.size());
    if (yield.boards == 0) continue;
    yield.failedLast = Sorted(failedLast);
    yield.failedAttempts = Sorted(image.failedAttempts);
    yields.push_back(std::move(yield));
  }
  return yields;
}

}  // namespace qvx::cli
