#include "support/fixtures.h"

#include <algorithm>
#include <random>
#include <utility>

namespace qvx::test {

const Bytes& TestImage() {
  static const Bytes image = [] {
    Bytes bytes(kImageSize);
    std::minstd_rand random(7);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random() % 255);
    const std::uint8_t header[kHeaderSize] = {'F', 'W', 0, 0x16, 0, 0, 0, 0};
    std::copy(std::begin(header), std::end(header), bytes.begin());
    return bytes;
  }();
  return image;
}

Bytes ContainerOf(const Bytes& image) {
  FirmwareImage scrambler;
  scrambler.ImageBuffer = image;
  scrambler.ScrambleImage();
  return scrambler.ResourceData;
}

const Bytes& TestContainer() {
  static const Bytes container = ContainerOf(TestImage());
  return container;
}

ResourceLoader LoaderOf(std::optional<Bytes> container) {
  return [container = std::move(container)](std::string_view, int) { return container; };
}

std::vector<Region> RegionsFor(std::uint8_t boardFirmware) {
  std::vector<Region> regions;
  for (const Region& r : kRegions) {
    if (r.step != 4 || boardFirmware <= 0x11) regions.push_back(r);
  }
  return regions;
}

bool Holds(const Bytes& flash, const Bytes& image, const std::vector<Region>& regions) {
  return std::ranges::all_of(regions, [&](const Region& r) {
    return std::equal(flash.begin() + 2 * r.first, flash.begin() + 2 * r.end,
                      image.begin() + 8 + 2 * r.first);
  });
}

Bytes FlashAfterUpdate(const Bytes& image, std::uint8_t boardFirmware) {
  Bytes flash(board::VirtualBoard::kFlashBytes, 0xFF);
  for (const Region& r : RegionsFor(boardFirmware)) {
    std::copy(image.begin() + 8 + 2 * r.first, image.begin() + 8 + 2 * r.end,
              flash.begin() + 2 * r.first);
  }
  return flash;
}

std::vector<std::int32_t> Sent(const board::VirtualBoard& board, const char* mnemonic,
                               std::size_t from) {
  std::vector<std::int32_t> values;
  const auto& commands = board.Commands();
  for (std::size_t i = from; i < commands.size(); ++i) {
    const auto& c = commands[i];
    if (c.mnemonic == mnemonic) values.push_back(c.mnemonic == "EX" ? c.operand : c.address);
  }
  return values;
}

Board::Board(std::uint8_t boardFirmware, ResourceLoader loader)
    : session(board, std::move(loader), events) {
  board.SetVersions(0x21, boardFirmware);
  board.SetWrittenFirmware(0x16);
  board.UseVirtualTime();
}

bool Board::Found() {
  return session.Open().kind() == Outcome::Kind::Done &&
         session.Identify().kind() == Outcome::Kind::Done;
}

Rig::Rig(std::uint8_t boardFirmware, ResourceLoader loader) : form(view, board, std::move(loader)) {
  view.form = &form;
  board.SetVersions(0x21, boardFirmware);
}

bool Rig::Found() {
  form.Form_Load();
  Click(Button::FindDevice);
  return view.shown.buttons[static_cast<std::size_t>(Button::FlashDevice)];
}

}  // namespace qvx::test
