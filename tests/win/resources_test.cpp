// The program's resources read back through the platform's calls. Their content reaches the
// board in the end-to-end test; here, what that cannot see.
#include <gtest/gtest.h>
#include <windows.h>

#include "image/firmware_image.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/resource_loader.h"

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

}  // namespace
}  // namespace qvx::win32
