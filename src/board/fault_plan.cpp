#include "board/fault_plan.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace qvx::board {

namespace {

const char* CallName(Call call) {
  switch (call) {
    case Call::Open:
      return "open";
    case Call::SetTimeouts:
      return "set-timeouts";
    case Call::SetLatency:
      return "set-latency";
    case Call::SetUSBParameters:
      return "set-usb-parameters";
    case Call::Purge:
      return "purge";
    case Call::Write:
      return "write";
    case Call::Read:
      return "read";
    case Call::Close:
      return "close";
  }
  return "?";
}

std::string Failed(Call call, int number, FT_STATUS status, bool drawn) {
  return std::string(CallName(call)) + " #" + std::to_string(number) + " failed with " +
         std::to_string(status) + (drawn ? " (random)" : "");
}

std::string Hex(std::size_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%04zX", value);
  return text;
}

}  // namespace

void FaultPlan::FailCall(Call call, int nth, FT_STATUS status) {
  callRules_.push_back({call, nth, calls_[static_cast<std::size_t>(call)], status});
}

void FaultPlan::CorruptReadBack(std::size_t byte, bool persistent) {
  corruptions_.push_back({byte, persistent});
}

void FaultPlan::SwallowReply(const std::string& mnemonic, int nth) {
  swallows_.push_back({mnemonic, nth, commandCounts_[mnemonic]});
}

void FaultPlan::UnplugAfter(const std::string& mnemonic, int nth) {
  unplugs_.push_back({mnemonic, nth, commandCounts_[mnemonic]});
}

void FaultPlan::RunAfter(const std::string& mnemonic, int nth, std::function<void()> action) {
  actions_.push_back({{mnemonic, nth, commandCounts_[mnemonic]}, std::move(action)});
}

void FaultPlan::InjectRandomFaults(std::uint32_t seed, double probability) {
  random_.emplace(seed);
  probability_ = probability;
}

int FaultPlan::Count(Call call) const {
  return calls_[static_cast<std::size_t>(call)];
}

FT_STATUS FaultPlan::Scripted(Call call) {
  const int number = ++calls_[static_cast<std::size_t>(call)];
  for (const CallRule& rule : callRules_) {
    if (rule.call == call && (rule.nth == 0 || number - rule.base == rule.nth)) {
      log_.push_back(Failed(call, number, rule.status, false));
      return rule.status;
    }
  }
  return ft::OK;
}

bool FaultPlan::Drawn() {
  if (!random_) return false;
  // mt19937 output is fixed by the standard, so a seed replays the same schedule everywhere.
  return static_cast<double>((*random_)()) / 4294967296.0 < probability_;
}

FT_STATUS FaultPlan::OnCall(Call call) {
  const FT_STATUS status = Scripted(call);
  if (status != ft::OK || call != Call::Purge || !Drawn()) return status;
  log_.push_back(Failed(call, Count(call), ft::IO_ERROR, true));
  return ft::IO_ERROR;
}

FaultPlan::WriteVerdict FaultPlan::OnWrite() {
  WriteVerdict verdict{Scripted(Call::Write)};
  if (verdict.status != ft::OK || !Drawn()) return verdict;
  switch ((*random_)() % 3) {
    case 0:
      verdict.status = ft::IO_ERROR;
      log_.push_back(Failed(Call::Write, Count(Call::Write), ft::IO_ERROR, true));
      break;
    case 1:
      verdict.swallowReplies = true;
      break;
    default:
      verdict.corruptReadBack = true;
      break;
  }
  return verdict;
}

FaultPlan::ReadVerdict FaultPlan::OnRead(std::size_t asked) {
  ReadVerdict verdict{Scripted(Call::Read)};
  if (pieceBytes_ > 0) verdict.limit = pieceBytes_;
  if (verdict.status != ft::OK || !Drawn()) return verdict;
  if ((*random_)() % 2 == 0) {
    verdict.status = ft::IO_ERROR;
    log_.push_back(Failed(Call::Read, Count(Call::Read), ft::IO_ERROR, true));
  } else if (asked > 1) {
    verdict.limit = std::min<std::size_t>(verdict.limit, 1 + (*random_)() % (asked - 1));
  }
  return verdict;
}

bool FaultPlan::Fires(const CommandRule& rule, const std::string& mnemonic) const {
  const auto count = commandCounts_.find(mnemonic);
  const int number = count == commandCounts_.end() ? 0 : count->second;
  return rule.mnemonic == mnemonic && (rule.nth == 0 || number - rule.base == rule.nth);
}

bool FaultPlan::Matches(const std::vector<CommandRule>& rules, const std::string& mnemonic) const {
  return std::any_of(rules.begin(), rules.end(),
                     [&](const CommandRule& rule) { return Fires(rule, mnemonic); });
}

// Scripted and drawn corruption use different masks so that both on one byte still alter it.
void FaultPlan::Corrupt(BoardProtocol::Completed& done, std::size_t index, std::uint8_t mask) {
  done.reply[index] ^= mask;
  log_.push_back("read-back corrupted at " + Hex(done.replyFlashByte + index));
}

bool FaultPlan::OnCommand(BoardProtocol::Completed& done, const WriteVerdict& verdict) {
  const std::string& mnemonic = done.command.mnemonic;
  const std::string name = mnemonic + " #" + std::to_string(++commandCounts_[mnemonic]);
  for (const Action& action : actions_) {
    if (Fires(action.rule, mnemonic)) action.run();
  }

  if (Matches(unplugs_, mnemonic)) {
    done.reply.clear();
    log_.push_back("unplugged after " + name);
    return true;
  }
  if (done.reply.empty()) return false;
  const bool scripted = Matches(swallows_, mnemonic);
  if (scripted || verdict.swallowReplies) {
    done.reply.clear();
    log_.push_back("reply to " + name + " swallowed" + (scripted ? "" : " (random)"));
    return false;
  }
  if (mnemonic != "RF") return false;

  const std::size_t first = done.replyFlashByte;
  for (auto it = corruptions_.begin(); it != corruptions_.end();) {
    if (it->byte < first || it->byte - first >= done.reply.size()) {
      ++it;
      continue;
    }
    Corrupt(done, it->byte - first, 0xA5);
    it = it->persistent ? it + 1 : corruptions_.erase(it);
  }
  if (verdict.corruptReadBack) Corrupt(done, (*random_)() % done.reply.size(), 0x5A);
  return false;
}

}  // namespace qvx::board
