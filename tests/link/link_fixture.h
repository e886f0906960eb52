#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "link/qvx_module.h"
#include "support/scripted_driver.h"

namespace qvx::test {

using Call = ScriptedDriver::Call;

inline std::vector<std::uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// A link over the scripted driver and a full-size image buffer.
class LinkTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kImageBytes = 65544;

  ScriptedDriver driver;
  std::vector<std::uint8_t> image = std::vector<std::uint8_t>(kImageBytes, 0xAA);
  QVXModule link{driver, image};
};

}  // namespace qvx::test
