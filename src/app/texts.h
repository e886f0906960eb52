#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "image/version.h"

// The system's texts, each written here once: the window's captions, status lines and boxes, and
// the words the command line shares with the window. The double blanks are part of them.
namespace qvx {

// One modal box with an OK button. The title is always given: a box with no title of its own
// carries the application title.
struct Message {
  Message(std::string_view text, std::string_view title, bool stopIcon = false,
          bool systemModal = false)
      : text(text), title(title), stopIcon(stopIcon), systemModal(systemModal) {}

  std::string text;
  std::string title;
  bool stopIcon;
  bool systemModal;  // kept above every other window

  bool operator==(const Message&) const = default;
};

namespace text {

inline constexpr std::string_view kApplicationTitle = "Quorvex Updater";
inline constexpr std::string_view kCaptionVersion = " v";  // after the title: "... v1.2"
// After the caption of a window working on a virtual board, so that it is never taken for a real
// one.
inline constexpr std::string_view kDemoCaption = " (demo)";

// The buttons, by index.
inline constexpr std::array<std::string_view, 4> kButtonCaptions{"Find Device", "Flash Device",
                                                                 "Abort Flash", "Ok!"};
inline constexpr std::string_view kProgressTip =
    "This bar shows the current progress of an operation.";

// Start-up.
inline constexpr std::string_view kAlreadyRunning = " already running! ";  // after the name
inline constexpr std::string_view kHardwareNotFound = "Quorvex hardware not found!";
inline constexpr std::string_view kHardwareNotFoundTitle = "USB Error!";
inline constexpr std::string_view kNotInUpdateMode = "Quorvex Not in update mode! ";

// Find Device.
inline constexpr std::string_view kHardwarePrefix = "Quorvex - Hardware v";
inline constexpr std::string_view kFirmwarePrefix = "Firmware: v";
inline constexpr std::string_view kUpgradingTo = "  -  Upgrading to: v";
inline constexpr std::string_view kConnectionFailure = "USB Connection Failure!";
inline constexpr std::string_view kConnectionFailureTitle = "USB Error";
inline constexpr std::string_view kNotSupported = "Device not currently supported for upgrading!";
inline constexpr std::string_view kNotSupportedTitle = "Device not supported!";

// Flash Device.
inline constexpr std::string_view kFlashing = "Flashing device...";
inline constexpr std::string_view kFlashComplete = "Flash Complete!";
inline constexpr std::string_view kUpdateFailureTitle = "Update Failure!";
inline constexpr std::string_view kVerifyFailureTitle = "Verify Failure!";
inline constexpr std::string_view kBootloaderFailureTitle = "Bootloader Failure!";
inline constexpr std::string_view kBootloaderFailure =
    "Step 4 - Device communication error!  Data is corrupted!  "
    "** DO NOT POWER OFF BOARD!! **  Re-try update!";

// A stage's two failures: its block commands gave out, or its read-back differed.
struct StageFailures {
  int step;
  std::string_view communication;
  std::string_view verify;
};
inline constexpr std::string_view kStep2Communication =
    "Step 2 - Device communication error - Corruption possible!  Re-try update!";
inline constexpr std::array<StageFailures, 4> kStageFailures{{
    {2, kStep2Communication, "Step 2 - Device verify error!  Data is corrupted!  Re-try update!"},
    {3,
     "Step 3 - Device communication error - Corruption possible!  "
     "** DO NOT POWER OFF BOARD!! **  Re-try update!",
     "Step 3 - Device verify error!  Data is corrupted!  "
     "** DO NOT POWER OFF BOARD!! **  Re-try update!"},
    // The bootloader stage's communication failure says Step 2's words.
    {4, kStep2Communication, "Step 4 - Device verify error!  Data is corrupted!  Re-try update!"},
    {1, "Step 1 - Device communication error - Corruption possible!  Re-try update!",
     "Step 1 - Device verify error!  Data is corrupted!  Re-try update!"},
}};

// The command line's own words for what only it does.
inline constexpr std::string_view kReadBackFailure =
    "Device communication error while reading back!";
inline constexpr std::string_view kDumpFailure =
    "Device communication error while reading the flash!";
inline constexpr std::string_view kUpdateModeAdvice =
    "unplug the board, put it in its update mode and plug it in again";
inline constexpr std::string_view kOlderImage =
    "The image is older than the board's firmware; --allow-older writes it anyway.";
inline constexpr std::string_view kNoAnswerAfter = "no answer after the update";
// "the board reports 1.5 after the update; the image is 1.6"
std::string OtherVersionAfter(Version board, Version image);
// "hardware 2.0, but this update is for hardware 2.1"
std::string WrongHardware(Version board, Version wanted);

}  // namespace text

// The boxes, as the windows show them.
Message StopBox(std::string_view text);  // stop icon, system-modal, the application title
Message StageFailureBox(int step, bool verify);
Message BootloaderFailureBox();

// "Quorvex - Hardware v2.1": the board's hardware as Find Device shows it.
std::string HardwareText(Version hardware);
// "Firmware: v1.1  -  Upgrading to: v1.6": the board's firmware beside the image's.
std::string FirmwareStatusText(Version board, Version image);

}  // namespace qvx
