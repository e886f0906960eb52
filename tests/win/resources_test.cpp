// The program's resources read back through the platform's calls, as the program reads them.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>

#include "image/firmware_image.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/resource_loader.h"

namespace qvx::win32 {
namespace {

TEST(WindowsResources, FirmwareIsExactlyItsBytesOrNothing) {
  std::ifstream file(QVX_FIRMWARE, std::ios::binary);
  const std::vector<std::uint8_t> expected(std::istreambuf_iterator<char>(file), {});
  ASSERT_EQ(expected.size(), kContainerSize);
  EXPECT_EQ(LoadProgramResource(kImageResourceType, kImageResourceId), expected);
  // 65,636 is 100 cut to 16 bits; "#10" names a numbered type.
  for (const auto& [type, id] : {std::pair{"JPG", 101},
                                 {"JPG", 0},
                                 {"JPG", 65636},
                                 {"#10", 100},
                                 {"BITMAP", QVX_LOGO_BITMAP},
                                 {"", 100}}) {
    EXPECT_FALSE(LoadProgramResource(type, id)) << type << " " << id;
  }
}

TEST(WindowsResources, PicturesAndVersionBlock) {
  HINSTANCE self = GetModuleHandleW(nullptr);
  BITMAP logo{};
  HANDLE bitmap = LoadImageW(self, MAKEINTRESOURCEW(QVX_LOGO_BITMAP), IMAGE_BITMAP, 0, 0, 0);
  ASSERT_EQ(GetObjectW(bitmap, sizeof(logo), &logo), int{sizeof(logo)});
  EXPECT_EQ(logo.bmWidth * logo.bmHeight, 160 * 120);
  // The icon group picks its own image for each size: 30001 is 32 x 32, 30002 is 16 x 16.
  auto* group = static_cast<BYTE*>(LockResource(
      LoadResource(self, FindResourceW(self, MAKEINTRESOURCEW(QVX_ICON_GROUP), RT_GROUP_ICON))));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(LookupIconIdFromDirectoryEx(group, TRUE, 32, 32, 0), 30001);
  EXPECT_EQ(LookupIconIdFromDirectoryEx(group, TRUE, 16, 16, 0), 30002);

  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::vector<char> block(GetFileVersionInfoSizeW(path, nullptr));
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()));
  wchar_t* text = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, L"1.02.0003");
}

}  // namespace
}  // namespace qvx::win32
