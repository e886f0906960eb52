// Any bytes as the firmware resource: the loader accepts exactly a long enough container whose
// decoded header is valid, and an accepted image survives a scramble and a descramble unchanged.
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "image/firmware_image.h"
#include "image/image_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Short inputs stand for a container's head, the rest zero, so headers are reached often.
  std::vector<std::uint8_t> resource(data, data + size);
  if (size > 0 && size < 64) resource.resize(qvx::kContainerSize + data[0] % 2 - 1);
  qvx::FirmwareImage image([&](std::string_view, int) { return resource; });
  const auto problem = image.LoadFirmwareImage();
  if (resource.size() < qvx::kContainerSize) {
    FUZZ_CHECK(problem.has_value());
    return 0;
  }
  FUZZ_CHECK(problem.has_value() == qvx::BrokenHeaderRule(image.ImageBuffer).has_value());
  const std::vector<std::uint8_t> decoded = image.ImageBuffer;
  image.ScrambleImage();
  image.DescrambleImage();
  FUZZ_CHECK(image.ImageBuffer == decoded);
  return 0;
}
