#include "ui/win32/resource_loader.h"

#include <windows.h>

#include <string>

#include "image/firmware_image.h"
#include "ui/win32/resource_ids.h"

namespace qvx::win32 {

static_assert(QVX_FIRMWARE_RESOURCE == kImageResourceId);

namespace {

constexpr WORD kLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033
constexpr int kLargestId = 0xFFFF;

}  // namespace

std::optional<std::vector<std::uint8_t>> LoadProgramResource(std::string_view type, int id) {
  // Id 0 would read as a null name; the type is a plain name, so never a number in disguise.
  if (!IsPlainResourceName(type) || id <= 0 || id > kLargestId) return std::nullopt;
  const std::wstring typeName(type.begin(), type.end());
  HMODULE program = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceExW(program, typeName.c_str(), MAKEINTRESOURCEW(static_cast<WORD>(id)),
                                kLanguage);
  if (found == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(program, found);
  const DWORD size = SizeofResource(program, found);
  const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
  if (bytes == nullptr) return std::nullopt;
  return std::vector<std::uint8_t>(bytes, bytes + size);
}

}  // namespace qvx::win32
