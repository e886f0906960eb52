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
using R = ScriptedDriver::Result;
using Bytes = std::vector<std::uint8_t>;

inline Bytes B(std::string_view text) {
  return {text.begin(), text.end()};
}

// A link over the scripted driver and a full-size image buffer of 0xAA.
struct Link {
  ScriptedDriver driver;
  Bytes image = Bytes(65544, 0xAA);
  QVXModule link{driver, image};
};

class LinkTest : public ::testing::Test, protected Link {};

}  // namespace qvx::test
