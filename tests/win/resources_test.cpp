// The program's resources read back through the platform's calls, and its layout measured with
// the platform's fonts. Their content reaches the board in the end-to-end test; here, what that
// cannot see.
#include <gtest/gtest.h>
#include <windows.h>

#include <string_view>
#include <utility>
#include <vector>

#include "app/form_layout.h"
#include "image/firmware_image.h"
#include "ui/win32/dpi.h"
#include "ui/win32/message_box.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/resource_loader.h"
#include "ui/win32/wide_text.h"

namespace qvx::win32 {
namespace {

TEST(WindowsResources, ReadBackThroughThePlatformsCalls) {
  EXPECT_EQ(LoadProgramResource(kImageResourceType, kImageResourceId)->size(), kContainerSize);
  // 65,636 is 100 cut to 16 bits; id 0 is no name at all; "#10" names a numbered type.
  for (const auto& [type, id] : {std::pair{"JPG", 101},
                                 {"JPG", 65636},
                                 {"JPG", 0},
                                 {"#10", 100},
                                 {"BITMAP", QVX_LOGO_BITMAP}}) {
    EXPECT_FALSE(LoadProgramResource(type, id)) << type << " " << id;
  }

  HINSTANCE self = GetModuleHandleW(nullptr);
  EXPECT_NE(LoadImageW(self, MAKEINTRESOURCEW(QVX_LOGO_BITMAP), IMAGE_BITMAP, 0, 0, 0), nullptr);
  // The group's own image for each size, not one scaled: 30001 is 32 x 32, 30002 16 x 16.
  auto* group = static_cast<BYTE*>(LockResource(
      LoadResource(self, FindResourceW(self, MAKEINTRESOURCEW(QVX_ICON_GROUP), RT_GROUP_ICON))));
  EXPECT_EQ(LookupIconIdFromDirectoryEx(group, TRUE, 32, 32, 0), 30001);
  EXPECT_EQ(LookupIconIdFromDirectoryEx(group, TRUE, 16, 16, 0), 30002);

  // The version blocks Explorer's file properties show: the command line's, and the window's,
  // which this test carries.
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  for (const auto& [program, name, value] :
       {std::tuple{QVX_COMMAND_LINE, L"FileVersion", L"1.02.0003"},
        {QVX_COMMAND_LINE, L"ProductName", L"Quorvex Updater"},
        {QVX_COMMAND_LINE, L"OriginalFilename", L"quorvex.exe"},
        {path, L"FileVersion", L"1.02.0003"}}) {
    std::vector<char> block(GetFileVersionInfoSizeW(program, nullptr));
    wchar_t* text = nullptr;
    UINT length = 0;
    const std::wstring key = L"\\StringFileInfo\\040904B0\\" + std::wstring(name);
    ASSERT_TRUE(GetFileVersionInfoW(program, 0, static_cast<DWORD>(block.size()), block.data()) &&
                VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &length))
        << program << " " << name;
    EXPECT_STREQ(text, value) << program;
  }
}

// No caption or label is wider or taller than its control: the buttons keep 4 pixels a side (at
// 96 dpi) for their edge and focus frame; the labels' texts are the longest they can show.
TEST(Layout, EveryTextFitsItsControlAtEachDpi) {
  std::vector<std::pair<Control, std::string_view>> texts{
      {Control::StatusText, "Firmware: v15.15  -  Upgrading to: v15.15"},
      {Control::DeviceName, "Quorvex - Hardware v15.15"}};
  for (int b = 0; b < kButtonCount; ++b) texts.emplace_back(Control{b}, CaptionOf(Button(b)));
  HDC dc = CreateCompatibleDC(nullptr);
  int height = 0;
  for (const int dpi : {96, 120, 144, 192}) {
    SCOPED_TRACE(dpi);
    HGDIOBJ old = SelectObject(dc, CreateMessageFont(dpi));
    SIZE size{};
    for (const auto& [control, text] : texts) {
      const std::wstring wide = Wide(text);
      GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
      const Rect r = Scaled(RectOf(control), dpi);
      const int margin = IsButton(control) ? 2 * ScaledLength(4, dpi) : 0;
      EXPECT_TRUE(size.cx + margin <= r.width && size.cy <= r.height) << text;
    }
    EXPECT_GT(size.cy, std::exchange(height, size.cy)) << "the font grows with the DPI";
    DeleteObject(SelectObject(dc, old));
  }
  DeleteDC(dc);
}

// Centred in a work area that need not start at 0 (another monitor, a taskbar at the top); a
// window larger than the area keeps its top-left corner, and so its caption, inside it.
TEST(Placement, CentresInTheWorkArea) {
  struct Case {
    RECT area;
    SIZE size;
    POINT at;
  };
  for (const Case& c : {Case{{0, 0, 1024, 768}, {400, 300}, {312, 234}},
                        Case{{-1920, 40, 0, 1080}, {401, 301}, {-1161, 409}},
                        Case{{100, 50, 900, 650}, {1000, 700}, {100, 50}}}) {
    const POINT at = CentredIn(c.area, c.size);
    EXPECT_EQ(std::pair(at.x, at.y), std::pair(c.at.x, c.at.y)) << c.area.left << " " << c.size.cx;
  }
}

// Each box's icon and modality as the form gives them.
TEST(Boxes, StyleOfEachKind) {
  EXPECT_EQ(BoxStyle({"Quorvex hardware not found!", "USB Error!"}),
            static_cast<UINT>(MB_OK | MB_APPLMODAL));
  EXPECT_EQ(BoxStyle({"Step 2", "Quorvex Updater", true, true}),
            static_cast<UINT>(MB_OK | MB_SYSTEMMODAL | MB_ICONSTOP));
  EXPECT_EQ(BoxStyle({"x", "y", true, false}),
            static_cast<UINT>(MB_OK | MB_APPLMODAL | MB_ICONSTOP));
}

}  // namespace
}  // namespace qvx::win32
