#include "board/board_protocol.h"

#include <algorithm>
#include <utility>

namespace qvx::board {

namespace {

// Parameter bytes after each mnemonic; nothing for a byte pair that is no mnemonic.
std::optional<std::size_t> ParamBytes(const std::string& mnemonic) {
  if (mnemonic == "SI") return 0;
  if (mnemonic == "RF") return 5;
  if (mnemonic == "WF") return 3;
  if (mnemonic == "EX") return 2;
  return std::nullopt;
}

bool StartsMnemonic(std::uint8_t byte) {
  return byte == 'S' || byte == 'R' || byte == 'W' || byte == 'E';
}

std::uint32_t BigEndian(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < count; ++i) value = (value << 8) | bytes[i];
  return value;
}

}  // namespace

BoardProtocol::BoardProtocol() : flash_(kFlashBytes, 0xFF) {
  pending_.reserve(kBlockBytes);
}

void BoardProtocol::SetVersions(std::uint8_t hardware, std::uint8_t firmware) {
  hardware_ = hardware;
  firmware_ = firmware;
}

std::uint8_t BoardProtocol::Firmware() const {
  if (written_ && firmwareWritten_) return *firmwareWritten_;
  const auto mark = flash_.begin() + static_cast<std::ptrdiff_t>(kFirmwareMarkByte);
  if (std::equal(kFirmwareMark.begin(), kFirmwareMark.end(), mark)) {
    return mark[static_cast<std::ptrdiff_t>(kFirmwareMark.size())];
  }
  return firmware_;
}

void BoardProtocol::SetSignature(std::string signature) {
  signature_ = std::move(signature);
}

std::optional<BoardProtocol::Completed> BoardProtocol::Next(std::span<const std::uint8_t>& bytes) {
  while (!bytes.empty()) {
    const std::uint8_t byte = bytes.front();
    bytes = bytes.subspan(1);
    if (auto done = Take(byte)) return done;
  }
  return std::nullopt;
}

std::vector<std::uint8_t> BoardProtocol::Feed(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> replies;
  while (auto done = Next(bytes))
    replies.insert(replies.end(), done->reply.begin(), done->reply.end());
  return replies;
}

std::size_t BoardProtocol::DropPartial() {
  const std::size_t dropped = received_;
  Reset();
  return dropped;
}

void BoardProtocol::Reset() {
  state_ = State::Idle;
  mnemonic_.clear();
  pending_.clear();
  received_ = 0;
}

std::optional<BoardProtocol::Completed> BoardProtocol::Take(std::uint8_t byte) {
  ++received_;
  switch (state_) {
    case State::Idle:
      if (StartsMnemonic(byte)) {
        mnemonic_.assign(1, static_cast<char>(byte));
        state_ = State::Mnemonic;
      } else {
        ++ignored_;
        received_ = 0;
      }
      return std::nullopt;
    case State::Mnemonic: {
      const std::string pair = mnemonic_ + static_cast<char>(byte);
      const auto params = ParamBytes(pair);
      if (!params) {
        // The first byte was noise; the second may still start a command.
        ++ignored_;
        Reset();
        return Take(byte);
      }
      mnemonic_ = pair;
      state_ = State::Params;
      return *params == 0 ? Finish() : std::nullopt;
    }
    case State::Params:
      pending_.push_back(byte);
      if (pending_.size() < *ParamBytes(mnemonic_)) return std::nullopt;
      if (mnemonic_ != "WF") return Finish();
      wfAddress_ = BigEndian(pending_.data(), 3);
      pending_.clear();
      state_ = State::Data;
      return std::nullopt;
    case State::Data:
      pending_.push_back(byte);
      return pending_.size() < kBlockBytes ? std::nullopt : Finish();
  }
  return std::nullopt;
}

bool BoardProtocol::InFlash(std::size_t firstByte, std::size_t bytes) const {
  return bytes > 0 && firstByte <= flash_.size() && bytes <= flash_.size() - firstByte;
}

std::optional<BoardProtocol::Completed> BoardProtocol::Finish() {
  Completed done;
  done.command.mnemonic = mnemonic_;
  if (mnemonic_ == "SI") {
    done.reply.assign(signature_.begin(), signature_.end());
    done.reply.push_back(hardware_);
    done.reply.push_back(Firmware());
  } else if (mnemonic_ == "EX") {
    done.command.operand = static_cast<std::int32_t>(BigEndian(pending_.data(), 2));
  } else if (mnemonic_ == "RF") {
    const std::uint32_t address = BigEndian(pending_.data(), 3);
    const std::uint32_t words = BigEndian(pending_.data() + 3, 2);
    const std::size_t first = 2 * std::size_t{address};
    if (!InFlash(first, 4 * std::size_t{words})) {
      ignored_ += received_;
      Reset();
      return std::nullopt;
    }
    done.command.address = static_cast<std::int32_t>(address);
    done.command.words = static_cast<std::int32_t>(words);
    done.replyFlashByte = first;
    const auto from = flash_.begin() + static_cast<std::ptrdiff_t>(first);
    done.reply.assign(from, from + 4 * static_cast<std::ptrdiff_t>(words));
  } else {  // "WF" with its block
    const std::size_t first = 2 * std::size_t{wfAddress_};
    if (!InFlash(first, kBlockBytes)) {
      ignored_ += received_;
      Reset();
      return std::nullopt;
    }
    done.command.address = static_cast<std::int32_t>(wfAddress_);
    done.command.words = static_cast<std::int32_t>(kBlockBytes / 4);
    std::copy(pending_.begin(), pending_.end(),
              flash_.begin() + static_cast<std::ptrdiff_t>(first));
    written_ = true;
  }
  if (keepCommands_) commands_.push_back(done.command);
  Reset();
  return done;
}

}  // namespace qvx::board
