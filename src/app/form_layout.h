#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "app/form_view.h"
#include "app/texts.h"

namespace qvx {

// The window's controls as every front end creates and places them, in pixels at 96 dots per
// inch: the design's twips divided by 15, widths rounded to even where needed so that every
// group centres on x = 168 (the bitmap box, "Find Device", "Ok!", the bar, the two labels, and
// "Flash Device" with "Abort Flash" as a pair).
struct Rect {
  int left;
  int top;
  int width;
  int height;
  bool operator==(const Rect&) const = default;
};

inline constexpr int kClientWidth = 336;
inline constexpr int kClientHeight = 273;
inline constexpr int kDesignDpi = 96;

// A length of the table at `dpi`, rounded to the nearest pixel.
constexpr int ScaledLength(int pixels, int dpi) {
  return (pixels * dpi + kDesignDpi / 2) / kDesignDpi;
}

// A rectangle of the table at `dpi`. Its edges are scaled, not its size, so that controls apart
// at 96 dpi never overlap at another, and none passes the client area's scaled edge.
constexpr Rect Scaled(const Rect& r, int dpi) {
  const int left = ScaledLength(r.left, dpi);
  const int top = ScaledLength(r.top, dpi);
  return {left, top, ScaledLength(r.left + r.width, dpi) - left,
          ScaledLength(r.top + r.height, dpi) - top};
}

// The buttons first, by their index in the Button array.
enum class Control {
  FindDevice,
  FlashDevice,
  AbortFlash,
  Ok,
  ProgressBar,
  Picture1,
  StatusText,
  DeviceName
};
inline constexpr std::size_t kControlCount = 8;

struct ControlLayout {
  Control control;
  Rect rect;
  int tabIndex;  // its place in the order Tab moves through
};

// In the order the window creates them.
inline constexpr std::array<ControlLayout, kControlCount> kControls{{
    {Control::FindDevice, {107, 216, 122, 33}, 3},
    {Control::Ok, {132, 216, 72, 33}, 0},
    {Control::ProgressBar, {84, 218, 168, 29}, 4},
    // 164 x 124: the 160 x 120 logo inside a 2-pixel sunken border.
    {Control::Picture1, {86, 24, 164, 124}, 2},
    {Control::AbortFlash, {187, 216, 98, 33}, 1},
    {Control::FlashDevice, {51, 216, 98, 33}, 5},
    {Control::StatusText, {35, 184, 266, 17}, 7},
    {Control::DeviceName, {36, 160, 264, 17}, 6},
}};

static_assert(static_cast<int>(Control::FindDevice) == static_cast<int>(Button::FindDevice) &&
              static_cast<int>(Control::FlashDevice) == static_cast<int>(Button::FlashDevice) &&
              static_cast<int>(Control::AbortFlash) == static_cast<int>(Button::AbortFlash) &&
              static_cast<int>(Control::Ok) == static_cast<int>(Button::Ok));

constexpr bool IsButton(Control control) {
  return control <= Control::Ok;
}
constexpr Button ButtonOf(Control control) {
  return static_cast<Button>(control);
}
constexpr std::string_view CaptionOf(Button button) {
  return text::kButtonCaptions[static_cast<std::size_t>(button)];
}
constexpr const Rect& RectOf(Control control) {
  return std::ranges::find(kControls, control, &ControlLayout::control)->rect;
}
constexpr const Rect& RectOf(Button button) {
  return RectOf(static_cast<Control>(button));
}

// The controls in the order Tab moves through them.
constexpr std::array<Control, kControlCount> TabOrder() {
  std::array<Control, kControlCount> order{};
  for (const ControlLayout& c : kControls)
    order.at(static_cast<std::size_t>(c.tabIndex)) = c.control;
  return order;
}

// Each control once, each place in the tab order once: a mistyped number does not build.
static_assert(std::ranges::all_of(kControls, [](const ControlLayout& c) {
  return std::ranges::count(kControls, c.control, &ControlLayout::control) == 1 &&
         std::ranges::count(kControls, c.tabIndex, &ControlLayout::tabIndex) == 1 &&
         c.tabIndex >= 0 && c.tabIndex < static_cast<int>(kControlCount);
}));

// The centring above, and the bottom row's one middle line.
constexpr int TwiceCentreX(const Rect& r) {
  return 2 * r.left + r.width;
}
constexpr int TwiceCentreY(const Rect& r) {
  return 2 * r.top + r.height;
}
static_assert(
    std::ranges::all_of(std::array{Control::Picture1, Control::DeviceName, Control::StatusText,
                                   Control::ProgressBar, Control::FindDevice, Control::Ok},
                        [](Control c) { return TwiceCentreX(RectOf(c)) == kClientWidth; }));
static_assert(TwiceCentreX(RectOf(Control::FlashDevice)) +
                  TwiceCentreX(RectOf(Control::AbortFlash)) ==
              2 * kClientWidth);
static_assert(std::ranges::all_of(kControls, [](const ControlLayout& c) {
  return !IsButton(c.control) || TwiceCentreY(c.rect) == TwiceCentreY(RectOf(Control::ProgressBar));
}));

// At the usual scales every control stays inside the client area, and the two buttons that show
// side by side stay apart.
constexpr bool FitsAt(int dpi) {
  const Rect client = Scaled({0, 0, kClientWidth, kClientHeight}, dpi);
  const Rect flash = Scaled(RectOf(Control::FlashDevice), dpi);
  return flash.left + flash.width <= Scaled(RectOf(Control::AbortFlash), dpi).left &&
         std::ranges::all_of(kControls, [&client, dpi](const ControlLayout& c) {
           const Rect r = Scaled(c.rect, dpi);
           return r.left >= 0 && r.top >= 0 && r.left + r.width <= client.width &&
                  r.top + r.height <= client.height;
         });
}
static_assert(FitsAt(96) && FitsAt(120) && FitsAt(144) && FitsAt(192));

}  // namespace qvx
