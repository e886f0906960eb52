#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "board/board_protocol.h"
#include "link/d2xx.h"

namespace qvx::board {

// The driver calls a fault can be attached to.
enum class Call { Open, SetTimeouts, SetLatency, SetUSBParameters, Purge, Write, Read, Close };

// Which faults fire, scripted or drawn from a seed, and the log of those that did. Counts are
// kept from construction; a script's "nth" counts from the moment it is given.
class FaultPlan {
 public:
  struct WriteVerdict {
    FT_STATUS status = ft::OK;
    bool swallowReplies = false;   // drawn: the replies to this write's commands are lost
    bool corruptReadBack = false;  // drawn: one byte of this write's "RF" reply is altered
  };
  struct ReadVerdict {
    FT_STATUS status = ft::OK;
    std::size_t limit = SIZE_MAX;  // at most this many bytes this call
  };

  void FailCall(Call call, int nth, FT_STATUS status);
  void CorruptReadBack(std::size_t byte, bool persistent);
  void SplitReplies(std::size_t pieceBytes) { pieceBytes_ = pieceBytes; }
  void SwallowReply(const std::string& mnemonic, int nth);
  void UnplugAfter(const std::string& mnemonic, int nth);
  void InjectRandomFaults(std::uint32_t seed, double probability);
  // Not a fault: runs `action` when the nth command of that mnemonic completes (0 = every one).
  void RunAfter(const std::string& mnemonic, int nth, std::function<void()> action);

  // One per driver call that reached the board, in order.
  FT_STATUS OnCall(Call call);  // any call but Write and Read
  WriteVerdict OnWrite();
  ReadVerdict OnRead(std::size_t asked);
  // One per command the board completed: alters or removes its reply as told. Returns true when
  // the board is to be unplugged now.
  bool OnCommand(BoardProtocol::Completed& done, const WriteVerdict& verdict);

  void Note(std::string line) { log_.push_back(std::move(line)); }
  const std::vector<std::string>& Log() const { return log_; }
  int Count(Call call) const;  // calls of that kind so far

 private:
  struct CallRule {
    Call call;
    int nth;
    int base;
    FT_STATUS status;
  };
  struct CommandRule {
    std::string mnemonic;
    int nth;
    int base;
  };
  struct Action {
    CommandRule rule;
    std::function<void()> run;
  };
  struct Corruption {
    std::size_t byte;
    bool persistent;
  };

  FT_STATUS Scripted(Call call);
  bool Drawn();  // true with the random probability; always draws once when armed
  bool Fires(const CommandRule& rule, const std::string& mnemonic) const;
  bool Matches(const std::vector<CommandRule>& rules, const std::string& mnemonic) const;
  void Corrupt(BoardProtocol::Completed& done, std::size_t index, std::uint8_t mask);

  std::array<int, 8> calls_{};
  std::vector<CallRule> callRules_;
  std::vector<Corruption> corruptions_;
  std::size_t pieceBytes_ = 0;
  std::vector<CommandRule> swallows_;
  std::vector<CommandRule> unplugs_;
  std::vector<Action> actions_;
  std::map<std::string, int> commandCounts_;

  std::optional<std::mt19937> random_;
  double probability_ = 0;

  std::vector<std::string> log_;
};

}  // namespace qvx::board
