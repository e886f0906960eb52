// Arbitrary bytes as the embedded firmware container, through DescrambleImage and
// LoadFirmwareImage. The first byte says how the rest becomes the container: with bit 0 clear it
// is taken as it is (short, exact or long); with bit 0 set it is repeated up to the full size plus
// (byte >> 1) bytes, so that small inputs reach the header rules and the whole decoder too.
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "image/firmware_image.h"
#include "image/image_format.h"

namespace {

std::vector<std::uint8_t> Container(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  if ((data[0] & 1) != 0 && !bytes.empty() && bytes.size() < qvx::kContainerSize) {
    const std::size_t given = bytes.size();
    bytes.resize(qvx::kContainerSize + (data[0] >> 1));
    for (std::size_t i = given; i < bytes.size(); ++i) bytes[i] = bytes[i - given];
  }
  return bytes;
}

// The decoding written the plain way, one group at a time: the oracle for the fast one.
std::vector<std::uint8_t> PlainDecode(const std::vector<std::uint8_t>& container) {
  std::vector<std::uint8_t> image(qvx::kImageSize);
  std::uint8_t runningKey = qvx::kInitialRunningKey;
  for (std::size_t i = 0; i < qvx::kImageSize; ++i) {
    const std::uint8_t* group = &container[qvx::kGroupSize * i];
    const auto key = static_cast<std::uint8_t>(group[1] + group[2] + group[3]);
    image[i] = group[0] ^ runningKey ^ key;
    runningKey = static_cast<std::uint8_t>(runningKey + key);
  }
  return image;
}

// A loader that hands back the fuzz input as the "JPG"/100 resource, and an image that already
// holds something, so that a refusal can be seen to keep it.
class Rig {
 public:
  explicit Rig(const std::vector<std::uint8_t>& container)
      : image(
            [&container](std::string_view type, int id) {
              FUZZ_CHECK(type == "JPG" && id == qvx::kImageResourceId);
              return std::optional<std::vector<std::uint8_t>>(container);
            },
            opResult) {
    image.CreateArrays();
    image.ImageResourceId = qvx::kImageResourceId;
    std::memset(image.ImageBuffer.data(), 0xEE, image.ImageBuffer.size());
  }

  std::int16_t opResult = 7;
  qvx::FirmwareImage image;
};

// Too short: refused before a byte is decoded, by both operations.
void CheckShort(const std::vector<std::uint8_t>& container) {
  Rig rig(container);
  const std::vector<std::uint8_t> before = rig.image.ImageBuffer;
  rig.image.LoadFirmwareImage();
  FUZZ_CHECK(rig.opResult == -1 && rig.image.ImageBuffer == before);

  rig.image.ResourceData = container;
  bool thrown = false;
  try {
    rig.image.DescrambleImage();
  } catch (const std::out_of_range&) {
    thrown = true;
  }
  FUZZ_CHECK(thrown && rig.image.ImageBuffer == before);
}

// Long enough: decoded from its first 262,176 bytes, accepted exactly when the header is valid.
void CheckLoad(const std::vector<std::uint8_t>& container) {
  const std::vector<std::uint8_t> expected = PlainDecode(container);
  Rig rig(container);
  rig.image.LoadFirmwareImage();
  FUZZ_CHECK(rig.image.ImageBuffer == expected);
  const bool valid = expected[0] == 'F' && expected[1] == 'W' && expected[4] == 0;
  FUZZ_CHECK(rig.opResult == (valid ? 0 : -1));
  if (!valid) return;
  FUZZ_CHECK(rig.image.ImageBuffer.size() == qvx::kImageSize);
  FUZZ_CHECK(rig.image.ImageMajor <= 15 && rig.image.ImageMinor <= 15);
  FUZZ_CHECK(rig.image.ImageMajor * 16 + rig.image.ImageMinor ==
             rig.image.ImageBuffer[qvx::kVersionOffset]);
  FUZZ_CHECK(rig.image.ResourceData == container);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> container = Container(data, size);
  if (container.size() < qvx::kContainerSize) {
    CheckShort(container);
  } else {
    CheckLoad(container);
  }
  return 0;
}
