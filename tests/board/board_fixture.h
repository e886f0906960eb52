#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "board/virtual_board.h"

namespace qvx::board {

using Bytes = std::vector<std::uint8_t>;

inline Bytes WfHeader(std::uint32_t address) {
  return {'W', 'F', std::uint8_t(address >> 16), std::uint8_t(address >> 8), std::uint8_t(address)};
}
inline Bytes Rf(std::uint32_t address, std::uint16_t words) {
  Bytes command = WfHeader(address);
  command[0] = 'R';
  command.insert(command.end(), {std::uint8_t(words >> 8), std::uint8_t(words)});
  return command;
}

// An open virtual board and shorthands for driving it by hand.
class OpenBoard : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(board.FT_OpenEx("Quorvex", 2, &handle), ft::OK); }

  FT_STATUS Send(const Bytes& bytes) {
    DWORD written = 0;
    return board.FT_Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written);
  }
  FT_STATUS Send(const std::string& text) { return Send(Bytes(text.begin(), text.end())); }

  // One read call; the bytes it delivered.
  Bytes Receive(std::size_t count, FT_STATUS* status = nullptr) {
    Bytes bytes(count);
    DWORD got = 0;
    const FT_STATUS s = board.FT_Read(handle, bytes.data(), static_cast<DWORD>(count), &got);
    if (status != nullptr) *status = s;
    bytes.resize(got);
    return bytes;
  }

  VirtualBoard board;
  FT_HANDLE handle = nullptr;
};

}  // namespace qvx::board
