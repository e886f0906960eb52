#pragma once

#include <algorithm>
#include <array>

#include "update/update_view.h"

namespace qvx {

// The window's controls as every front end places them, in pixels at 96 dots per inch: the
// design's twips divided by 15, widths rounded to even where needed so that every group centres
// on x = 168 (the bitmap box, "Find Device", "Ok!", the bar, the two labels, and "Flash Device"
// with "Abort Flash" as a pair).
struct Rect {
  int left;
  int top;
  int width;
  int height;
};

inline constexpr int kClientWidth = 336;
inline constexpr int kClientHeight = 273;

struct ButtonLayout {
  const char* caption;
  Rect rect;
};

// By Button index.
inline constexpr std::array<ButtonLayout, kButtonCount> kButtonLayout{{
    {"Find Device", {107, 216, 122, 33}},
    {"Flash Device", {51, 216, 98, 33}},
    {"Abort Flash", {187, 216, 98, 33}},
    {"Ok!", {132, 216, 72, 33}},
}};

inline constexpr Rect kProgressBarRect{84, 218, 168, 29};
// 164 x 124: the 160 x 120 logo inside a 2-pixel sunken border.
inline constexpr Rect kPictureRect{86, 24, 164, 124};
inline constexpr Rect kStatusTextRect{35, 184, 266, 17};
inline constexpr Rect kDeviceNameRect{36, 160, 264, 17};

inline constexpr char kProgressTip[] = "This bar shows the current progress of an operation.";

inline constexpr const ButtonLayout& LayoutOf(Button button) {
  return kButtonLayout[static_cast<std::size_t>(button)];
}

// The centring above, and the bottom row's one middle line: a mistyped number does not build.
constexpr int TwiceCentreX(const Rect& r) {
  return 2 * r.left + r.width;
}
constexpr int TwiceCentreY(const Rect& r) {
  return 2 * r.top + r.height;
}
static_assert(std::ranges::all_of(std::array{kPictureRect, kDeviceNameRect, kStatusTextRect,
                                             kProgressBarRect, LayoutOf(Button::FindDevice).rect,
                                             LayoutOf(Button::Ok).rect},
                                  [](const Rect& r) { return TwiceCentreX(r) == kClientWidth; }));
static_assert(TwiceCentreX(LayoutOf(Button::FlashDevice).rect) +
                  TwiceCentreX(LayoutOf(Button::AbortFlash).rect) ==
              2 * kClientWidth);
static_assert(std::ranges::all_of(kButtonLayout, [](const ButtonLayout& b) {
  return TwiceCentreY(b.rect) == TwiceCentreY(kProgressBarRect);
}));

}  // namespace qvx
