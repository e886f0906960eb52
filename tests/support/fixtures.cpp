#include "support/fixtures.h"

#include <algorithm>
#include <random>
#include <utility>

#include "update/stages.h"

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

ResourceLoader LoaderOf(std::optional<Bytes> container) {
  return [container = std::move(container)](std::string_view, int) { return container; };
}

Bytes FlashAfterUpdate(const Bytes& image, std::uint8_t boardFirmware) {
  Bytes flash(board::VirtualBoard::kFlashBytes, 0xFF);
  for (const Stage& stage : PlanFor(boardFirmware >> 4, boardFirmware & 0x0F)) {
    const auto from = image.begin() + stage.ImageOffset();
    std::copy(from, from + 4 * stage.words, flash.begin() + 2 * stage.address);
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
}

bool Board::Found() {
  return session.Open().kind == Outcome::Kind::Done &&
         session.Identify().kind == Outcome::Kind::Done;
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
