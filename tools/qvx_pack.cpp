// Packs a plain firmware image into the scrambled container the program embeds, and unpacks a
// container again for inspection.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/file_io.h"
#include "image/firmware_image.h"
#include "image/image_format.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;

void Fail(const std::string& message) {
  std::fprintf(stderr, "qvx-pack: %s\n", message.c_str());
}

std::optional<std::vector<std::uint8_t>> ReadFile(const fs::path& path) {
  std::vector<std::uint8_t> bytes;
  if (const auto problem = qvx::ReadWholeFile(path, bytes)) {
    Fail(problem->Text());
    return std::nullopt;
  }
  return bytes;
}

bool WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  const auto problem = qvx::WriteFileAtomically(path, bytes, /*replace=*/true);
  if (problem) Fail(problem->Text());
  return !problem;
}

std::string Version(const std::vector<std::uint8_t>& image) {
  const std::uint8_t version = image[qvx::kVersionOffset];
  return std::to_string(version >> 4) + "." + std::to_string(version & 0x0F);
}

int Pack(const fs::path& input, const fs::path& output) {
  auto plain = ReadFile(input);
  if (!plain) return kFailure;
  if (plain->size() != qvx::kImageSize) {
    Fail(qvx::PathText(input) + " holds " + std::to_string(plain->size()) +
         " bytes; a firmware image is exactly " + std::to_string(qvx::kImageSize));
    return kFailure;
  }
  if (const auto broken = qvx::BrokenHeaderRule(*plain)) {
    Fail(qvx::PathText(input) + ": " + std::string(*broken) + "; the program would refuse it");
    return kFailure;
  }
  qvx::FirmwareImage image;
  image.ImageBuffer = std::move(*plain);
  image.ScrambleImage();
  if (!WriteFile(output, image.ResourceData)) return kFailure;
  std::printf("packed firmware v%s into %s\n", Version(image.ImageBuffer).c_str(),
              qvx::PathText(output).c_str());
  return 0;
}

int Unpack(const fs::path& input, const fs::path& output) {
  auto container = ReadFile(input);
  if (!container) return kFailure;
  if (container->size() < qvx::kContainerSize) {
    Fail(qvx::PathText(input) + " holds " + std::to_string(container->size()) +
         " bytes; a firmware container has at least " + std::to_string(qvx::kContainerSize));
    return kFailure;
  }
  if (container->size() > qvx::kContainerSize) {
    std::fprintf(stderr, "qvx-pack: ignoring %zu trailing bytes, as the program does\n",
                 container->size() - qvx::kContainerSize);
  }
  qvx::FirmwareImage image;
  image.ResourceData = std::move(*container);
  image.DescrambleImage();
  if (!WriteFile(output, image.ImageBuffer)) return kFailure;
  if (const auto broken = qvx::BrokenHeaderRule(image.ImageBuffer)) {
    Fail(qvx::PathText(output) + " written for inspection, but " + std::string(*broken) +
         "; the program would refuse this container");
    return kFailure;
  }
  std::printf("unpacked firmware v%s into %s\n", Version(image.ImageBuffer).c_str(),
              qvx::PathText(output).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr,
                 "usage: qvx-pack pack <image> <container>\n"
                 "       qvx-pack unpack <container> <image>\n");
    return kUsageError;
  }
  const std::string_view command = argv[1];
  const fs::path input = argv[2];
  const fs::path output = argv[3];
  if (command != "pack" && command != "unpack") {
    Fail("unknown command \"" + std::string(command) + "\"; use pack or unpack");
    return kUsageError;
  }
  // Also the same file reached through a link or a different spelling of the path.
  if (qvx::SameFile(input, output)) {
    Fail("refusing to overwrite the input " + qvx::PathText(input));
    return kFailure;
  }
  return command == "pack" ? Pack(input, output) : Unpack(input, output);
}
