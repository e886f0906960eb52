#pragma once

// The communication-failure texts the operator must see, written out once for every test that
// checks them.
namespace qvx::test {

inline constexpr const char* kStep2Comm =
    "Step 2 - Device communication error - Corruption possible!  Re-try update!";
inline constexpr const char* kStep3Comm =
    "Step 3 - Device communication error - Corruption possible!  "
    "** DO NOT POWER OFF BOARD!! **  Re-try update!";
inline constexpr const char* kStep4Comm =
    "Step 4 - Device communication error - Corruption possible!  Re-try update!";
inline constexpr const char* kStep1Comm =
    "Step 1 - Device communication error - Corruption possible!  Re-try update!";
inline constexpr const char* kBootloader =
    "Step 4 - Device communication error!  Data is corrupted!  "
    "** DO NOT POWER OFF BOARD!! **  Re-try update!";

}  // namespace qvx::test
