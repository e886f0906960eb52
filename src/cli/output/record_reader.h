#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Record files read back: line by line, each line a record of one board's outcome.
namespace qvx::cli {

// Milliseconds since 1970-01-01, UTC.
using Moment = std::int64_t;

// "2026-12-07T21:00:00.123Z", or shorter down to the date alone ("2026-12-07"), always UTC.
std::optional<Moment> ParseUtc(std::string_view text);

// What tells two records apart: the record's id, or for one that has none (schema 1) a digest
// of its line.
struct RecordKey {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  bool operator==(const RecordKey&) const = default;
};
struct RecordKeyHash {
  std::size_t operator()(const RecordKey& key) const { return key.low ^ (key.high >> 7); }
};

// The fields of a record that the report reads.
struct Record {
  RecordKey key;
  Moment time = 0;
  std::string command;  // "flash", "watch", "verify", "info", "dump"
  std::string sha256;   // of the image, lower case
  std::string version;
  std::string source;
  std::string host;
  std::string lot;
  std::string workOrder;
  std::string operatorName;
  std::string serial;     // the bytes in hex when they are not UTF-8, after a 0xFF byte
  bool noSerial = false;  // blank, or shared with another device: it names no board
  std::string result;
  long long step = 0;
  bool noted = false;  // a success the board's word does not confirm
  bool demo = false;
};

// Whether records of this command are counted at all: info and dump update nothing.
bool Counted(const std::string& command);

// The record on a line, or why the line is none. A record of a command that is not counted
// holds its command only.
std::variant<Record, std::string> ParseRecord(std::string_view line);

// The lines of a stream, one at a time, never holding more than `maxLine` bytes of one: a longer
// line is passed over as it comes in.
class LineReader {
 public:
  enum class Got { Line, TooLong, CutShort, End, Failed };

  LineReader(std::istream& in, std::size_t maxLine);

  // The next line, without its newline; CutShort for a last line with no newline, which is
  // dropped, as a writer may still be in the middle of it.
  Got Next();
  std::string_view Line() const { return line_; }
  // The number of the line Next() gave, from 1.
  long long Number() const { return number_; }

 private:
  bool Fill();

  std::istream& in_;
  const std::size_t maxLine_;
  std::vector<char> chunk_;
  std::size_t at_ = 0;
  std::size_t end_ = 0;
  std::string line_;
  bool skipping_ = false;  // in a line that is too long
  long long number_ = 0;
};

}  // namespace qvx::cli
