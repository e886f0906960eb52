#include "image/file_io.h"

#include <fstream>
#include <iterator>
#include <random>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace qvx {

namespace {

Problem Of(const fs::path& path, std::string reason) {
  return {path.string(), std::move(reason)};
}

}  // namespace

std::optional<Problem> ReadWholeFile(const fs::path& path, std::vector<std::uint8_t>& bytes) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) return Of(path, "no such file");
  if (!fs::is_regular_file(status)) return Of(path, "not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return Of(path, "cannot be opened for reading");
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return Of(path, "cannot be read");
  return std::nullopt;
}

std::optional<Problem> WriteFileAtomically(const fs::path& path,
                                           std::span<const std::uint8_t> bytes, bool replace) {
  if (!replace && fs::exists(path)) return Of(path, kFileExists);
  std::error_code ignored;
  fs::path temp = path;
  temp += ".tmp-" + std::to_string(std::random_device{}());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      fs::remove(temp, ignored);
      return Of(path, "cannot be written");
    }
  }
  std::error_code error;
  if (replace) {
    fs::rename(temp, path, error);
  } else {
    // A hard link never takes an existing name, so a file that appeared meanwhile survives.
    fs::create_hard_link(temp, path, error);
    if (!error || error == std::errc::file_exists) {
      fs::remove(temp, ignored);
      if (error) return Of(path, kFileExists);
    } else {
      // Where the file system has no hard links, a rename is all there is.
      fs::rename(temp, path, error);
    }
  }
  if (error) {
    fs::remove(temp, ignored);
    return Of(path, "cannot be written");
  }
  return std::nullopt;
}

}  // namespace qvx
