#include "cli/output/record_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <span>

#include "image/sha256.h"

namespace qvx::cli {

namespace {

using Json = nlohmann::json;

constexpr std::size_t kChunk = std::size_t{64} * 1024;

// The value of a hex digit, or -1.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsHex(std::string_view text) {
  return std::ranges::all_of(text, [](char c) { return HexValue(c) >= 0; });
}

// 32 hex digits as a key.
RecordKey KeyOf(std::string_view hex) {
  RecordKey key;
  for (std::size_t i = 0; i < 32; ++i) {
    std::uint64_t& half = i < 16 ? key.high : key.low;
    half = half << 4 | static_cast<std::uint64_t>(HexValue(hex[i]));
  }
  return key;
}

// The fields of a record as the parser meets them, nothing else kept: a line costs no more
// memory than its own length, whatever it nests.
class Fields final : public nlohmann::json_sax<Json> {
 public:
  enum Field {
    kNone,
    kId,
    kTime,
    kCommand,
    kHost,
    kLot,
    kWorkOrder,
    kOperator,
    kSerial,
    kSerialHex,
    kResult,
    kNote,
    kSha256,
    kVersion,
    kSource,
    kCount,  // texts before kCount
    kSchema = kCount,
    kStep,
    kShared,
    kDemo,
    kImage
  };

  bool notObject = false;
  std::array<std::string, kCount> text;
  long long schema = 0;
  long long step = 0;
  bool shared = false;
  bool demo = false;

  bool key(std::string& name) override {
    static constexpr std::array<std::pair<std::string_view, Field>, 15> kTop{
        {{"schema", kSchema},
         {"id", kId},
         {"time", kTime},
         {"command", kCommand},
         {"host", kHost},
         {"lot", kLot},
         {"workOrder", kWorkOrder},
         {"operator", kOperator},
         {"serial", kSerial},
         {"serialHex", kSerialHex},
         {"serialShared", kShared},
         {"result", kResult},
         {"step", kStep},
         {"note", kNote},
         {"demo", kDemo}}};
    static constexpr std::array<std::pair<std::string_view, Field>, 3> kImageFields{
        {{"sha256", kSha256}, {"version", kVersion}, {"source", kSource}}};
    field_ = kNone;
    if (depth_ == 1 && name == "image") field_ = kImage;
    const auto find = [this, &name](const auto& table) {
      for (const auto& [known, field] : table) {
        if (known == name) field_ = field;
      }
    };
    if (depth_ == 1) find(kTop);
    if (depth_ == 2 && inImage_) find(kImageFields);
    return true;
  }
  bool string(std::string& value) override {
    if (field_ != kNone && field_ < kCount) text[field_] = std::move(value);
    return Value();
  }
  bool number_integer(number_integer_t value) override {
    if (field_ == kSchema) schema = value;
    if (field_ == kStep) step = value;
    return Value();
  }
  bool number_unsigned(number_unsigned_t value) override {
    return number_integer(static_cast<number_integer_t>(value));
  }
  bool boolean(bool value) override {
    if (field_ == kShared) shared = value;
    if (field_ == kDemo) demo = value;
    return Value();
  }
  bool null() override { return Value(); }
  bool number_float(number_float_t /*value*/, const string_t& /*text*/) override { return Value(); }
  bool binary(binary_t& /*value*/) override { return Value(); }
  bool start_object(std::size_t /*elements*/) override {
    if (depth_ == 1 && field_ == kImage) inImage_ = true;
    field_ = kNone;
    ++depth_;
    return true;
  }
  bool end_object() override {
    if (--depth_ == 1) inImage_ = false;
    return true;
  }
  bool start_array(std::size_t /*elements*/) override {
    if (depth_ == 0) return Value();
    field_ = kNone;
    ++depth_;
    return true;
  }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool parse_error(std::size_t /*position*/, const std::string& /*last*/,
                   const nlohmann::detail::exception& /*error*/) override {
    return false;
  }

 private:
  // A value outside any object ends the parse: the line is no record.
  bool Value() {
    field_ = kNone;
    notObject = depth_ == 0;
    return !notObject;
  }

  int depth_ = 0;
  bool inImage_ = false;
  Field field_ = kNone;
};

// Reads exactly n digits.
bool Digits(std::string_view& text, std::size_t n, int& value) {
  if (text.size() < n) return false;
  value = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  text.remove_prefix(n);
  return true;
}

bool Skip(std::string_view& text, std::string_view what) {
  if (!text.starts_with(what)) return false;
  text.remove_prefix(what.size());
  return true;
}

}  // namespace

std::optional<Moment> ParseUtc(std::string_view text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milli = 0;
  if (!Digits(text, 4, year) || !Skip(text, "-") || !Digits(text, 2, month) || !Skip(text, "-") ||
      !Digits(text, 2, day)) {
    return std::nullopt;
  }
  if (Skip(text, "T") || Skip(text, " ")) {
    if (!Digits(text, 2, hour) || !Skip(text, ":") || !Digits(text, 2, minute)) {
      return std::nullopt;
    }
    if (Skip(text, ":")) {
      if (!Digits(text, 2, second)) return std::nullopt;
      if (Skip(text, ".")) {
        // Milliseconds; finer digits are dropped.
        int digit = 0;
        for (int place = 100; Digits(text, 1, digit); place /= 10) milli += digit * place;
      }
    }
    Skip(text, "Z");
  }
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!text.empty() || !date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  const Moment days = std::chrono::sys_days(date).time_since_epoch().count();
  return ((days * 24 + hour) * 60 + minute) * 60000 + Moment{second} * 1000 + milli;
}

bool Counted(const std::string& command) {
  return command == "flash" || command == "watch" || command == "verify";
}

std::variant<Record, std::string> ParseRecord(std::string_view line) {
  Fields fields;
  const bool parsed = Json::sax_parse(line, &fields);
  if (fields.notObject) return "not an object";
  if (!parsed) return "not valid JSON";
  if (fields.schema != 1 && fields.schema != 2) return "schema is not 1 or 2";
  auto& text = fields.text;
  Record record;
  record.command = std::move(text[Fields::kCommand]);
  if (record.command.empty()) return "no command";
  if (!Counted(record.command)) return record;

  if (fields.schema == 2) {
    const std::string& id = text[Fields::kId];
    if (id.size() != 32 || !IsHex(id)) return "no id";
    record.key = KeyOf(id);
  } else {
    // Without an id, the same line is the same record: its digest stands for it.
    const std::string_view trimmed = line.substr(0, line.find_last_not_of(" \t\r") + 1);
    record.key = KeyOf(Sha256Hex(
        std::span(reinterpret_cast<const std::uint8_t*>(trimmed.data()), trimmed.size())));
  }
  const auto time = ParseUtc(text[Fields::kTime]);
  if (!time) return "no time";
  record.time = *time;
  record.sha256 = std::move(text[Fields::kSha256]);
  if (record.sha256.size() != 64 || !IsHex(record.sha256)) return "no image sha256";
  std::ranges::transform(record.sha256, record.sha256.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  record.result = std::move(text[Fields::kResult]);
  if (record.result.empty()) return "no result";

  record.version = std::move(text[Fields::kVersion]);
  record.source = std::move(text[Fields::kSource]);
  record.host = std::move(text[Fields::kHost]);
  record.lot = std::move(text[Fields::kLot]);
  record.workOrder = std::move(text[Fields::kWorkOrder]);
  record.operatorName = std::move(text[Fields::kOperator]);
  const std::string& hex = text[Fields::kSerialHex];
  record.serial = hex.empty() ? std::move(text[Fields::kSerial]) : '\xff' + hex;
  record.noSerial = record.serial.find_first_not_of(' ') == std::string::npos || fields.shared;
  record.step = fields.step;
  record.noted = !text[Fields::kNote].empty();
  record.demo = fields.demo;
  return record;
}

LineReader::LineReader(std::istream& in, std::size_t maxLine)
    : in_(in), maxLine_(maxLine), chunk_(kChunk) {}

bool LineReader::Fill() {
  at_ = 0;
  end_ = 0;
  if (!in_) return false;
  in_.read(chunk_.data(), static_cast<std::streamsize>(chunk_.size()));
  end_ = static_cast<std::size_t>(in_.gcount());
  return end_ > 0;
}

LineReader::Got LineReader::Next() {
  line_.clear();
  for (;;) {
    if (at_ == end_ && !Fill()) {
      if (in_.bad()) return Got::Failed;
      // Blanks after the last newline say nothing.
      if (!skipping_ && line_.find_first_not_of(" \t\r") == std::string::npos) return Got::End;
      ++number_;
      skipping_ = false;
      return Got::CutShort;
    }
    const char* start = chunk_.data() + at_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - at_));
    const std::size_t length = newline != nullptr ? newline - start : end_ - at_;
    if (!skipping_ && line_.size() + length > maxLine_) skipping_ = true;
    if (!skipping_) line_.append(start, length);
    at_ += length;
    if (newline == nullptr) continue;
    ++at_;
    ++number_;
    if (!skipping_) return Got::Line;
    skipping_ = false;
    return Got::TooLong;
  }
}

}  // namespace qvx::cli
