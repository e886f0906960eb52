// Random sequences of operations on one board, each under a random fault, judged by the board:
// what its flash holds and what it answered, never the program's own words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace qvx::test {
namespace {

using Kind = Outcome::Kind;
using Cause = Outcome::Cause;

constexpr int kSequences = 2000;
constexpr int kLongestSequence = 6;

enum class Op { Identify, Verify, Update, Dump };

std::vector<Region> RegionsOf(const std::vector<Stage>& plan) {
  std::vector<Region> regions;
  for (const Stage& stage : plan) {
    for (const Region& r : kRegions) {
      if (r.step == stage.step) regions.push_back(r);
    }
  }
  return regions;
}

// Whether two flashes are the same outside the regions.
bool SameOutside(Bytes a, const Bytes& b, const std::vector<Region>& regions) {
  for (const Region& r : regions) {
    std::copy(b.begin() + 2 * r.first, b.begin() + 2 * r.end, a.begin() + 2 * r.first);
  }
  return a == b;
}

// Where a stage's region of the flash first differs from the image, and in how many blocks.
std::optional<Difference> TrueDifference(const Bytes& flash, const Region& r) {
  std::optional<Difference> d;
  for (std::int32_t block = r.first; block < r.end; block += 1024) {
    for (std::int32_t byte = 2 * block; byte < 2 * (block + 1024); ++byte) {
      if (flash[byte] == TestImage()[8 + byte]) continue;
      if (!d) d = Difference{r.step, byte / 2, 0};
      ++d->blocks;
      break;
    }
  }
  return d;
}

class Sequence {
 public:
  explicit Sequence(std::uint32_t seed)
      : random_(seed), b_(Pick({0x05, 0x0F, 0x11, 0x12, 0x16, 0x17})) {
    const int start = static_cast<int>(random_() % 3);  // erased, holding the image, or noise
    if (start == 1) b_.board.Flash() = FlashAfterUpdate(TestImage(), 0x11);
    if (start == 2) std::ranges::generate(b_.board.Flash(), [this] { return random_() % 256; });
  }
  ~Sequence() { std::filesystem::remove(dump_); }

  std::ptrdiff_t RandomFaultsFired() const { return drawn_; }

  // Runs the sequence; what went wrong first, or nothing.
  std::optional<std::string> Run() {
    if (!Reopen()) return "the board did not open: " + story_.str();
    const int length = 1 + static_cast<int>(random_() % kLongestSequence);
    for (int i = 0; i < length; ++i) {
      if (auto wrong = Step()) return *wrong + "\n  after: " + story_.str();
      if (!b_.board.Attached() && !Reopen()) break;  // pulled out: plugged in again
    }
    return std::nullopt;
  }

 private:
  template <typename T>
  T Pick(std::initializer_list<T> among) {
    return *(among.begin() + random_() % among.size());
  }
  bool Chance(int percent) { return static_cast<int>(random_() % 100) < percent; }

  bool Reopen() {
    b_.session.Close();
    b_.board.SetAttached(true);
    story_ << "open; ";
    return b_.session.Open().kind() == Kind::Done;
  }

  std::optional<std::string> Step() {
    // The fault this step runs under: none, transient ones, a read-back that lies for good, the
    // board pulled out, no answer to "SI", another version after an update, a stop.
    const std::function<void()> faults[] = {
        [] {},
        [this] { b_.board.InjectRandomFaults(random_(), 0.01); },
        [this] {
          const Region& r = kRegions[random_() % 4];
          b_.board.CorruptReadBack(2 * r.first + random_() % (2 * (r.end - r.first)), true);
          lying_ = true;
        },
        [this] {
          b_.board.UnplugAfter(Pick<const char*>({"WF", "RF", "SI", "EX"}), 1 + random_() % 30);
        },
        [this] { b_.board.SwallowReply("SI", 1 + static_cast<int>(random_() % 3)); },
        [this] {
          b_.board.SetWrittenFirmware(Pick<std::uint8_t>({0x15, 0x17, 0x00}));
        },
        [this] { b_.events.stopAt = b_.events.asks + 1 + static_cast<int>(random_() % 70); },
    };
    const std::size_t fault = Chance(25) ? 0 : random_() % std::size(faults);
    const Op op = Pick({Op::Identify, Op::Verify, Op::Verify, Op::Update, Op::Update, Op::Update,
                        Op::Update, Op::Dump});
    const UpdatePolicy policy{
        Chance(10) ? std::optional(Version::Of(Pick({0x21, 0x20}))) : std::nullopt,
        Chance(50),
        Chance(50),
        Chance(70),
        Chance(30),
        Chance(30)};
    story_ << "fault " << fault << " op " << static_cast<int>(op);
    if (op == Op::Update) {
      story_ << " {" << policy.hardware.has_value() << policy.refuseOlder << policy.ifNeeded
             << policy.askAfter << policy.requireVersion << policy.checkAfter << "}";
    }
    story_ << "; ";

    b_.events.stopAt = 0;
    b_.events.steps.clear();
    b_.board.InjectRandomFaults(0, 0);
    faults[fault]();
    std::size_t commandsAtAsk = 0;
    b_.events.onAsk = [this, &commandsAtAsk] { commandsAtAsk = b_.board.Commands().size(); };
    const Bytes before = b_.board.Flash();
    const std::vector<Region> plan = RegionsOf(b_.session.Plan());
    const std::size_t faultsBefore = b_.board.FaultLog().size();
    const Outcome out = op == Op::Identify ? b_.session.Identify()
                        : op == Op::Verify ? b_.session.Verify()
                        : op == Op::Update ? b_.session.Update(policy)
                                           : b_.session.Dump(dump_, true);
    const Bytes& flash = b_.board.Flash();
    const std::vector<std::string> fired(b_.board.FaultLog().begin() + faultsBefore,
                                         b_.board.FaultLog().end());
    const bool lied = lying_ || std::ranges::any_of(fired, [](const std::string& line) {
                        return line.starts_with("read-back corrupted");
                      });
    story_ << "-> " << static_cast<int>(out.kind()) << "/" << static_cast<int>(out.cause())
           << " step " << out.step();
    if (!fired.empty()) story_ << " [" << fired.front() << (fired.size() > 1 ? ", ..." : "") << "]";
    drawn_ += std::ranges::count_if(
        fired, [](const std::string& line) { return line.ends_with("(random)"); });
    story_ << "; ";

    // Only an update writes, and only inside its plan's regions; a refusal writes nothing.
    const bool writes = op == Op::Update && out.cause() != Cause::Older &&
                        out.cause() != Cause::WrongHardware && !out.upToDate();
    if (!SameOutside(flash, before, writes ? plan : std::vector<Region>{})) {
      return std::string("the flash changed where nothing was to be written");
    }
    if (out.kind() == Kind::Cancelled &&
        (b_.events.stopAt == 0 || b_.events.asks != b_.events.stopAt ||
         b_.board.Commands().size() != commandsAtAsk)) {
      return std::string("cancelled without a stop, or the board was used after it");
    }
    if (out.kind() == Kind::Failed && out.step() != 0 &&
        std::ranges::find(b_.events.steps, out.step()) == b_.events.steps.end()) {
      return "failed naming Step " + std::to_string(out.step()) + ", which did not run";
    }
    if (out.kind() == Kind::Failed && out.cause() == Cause::Differs && !lied) {
      // A difference named is the board's: its first address and blocks, stage by stage.
      for (const Region& r : plan) {
        const auto truth = TrueDifference(flash, r);
        const auto said = std::ranges::find(out.differences(), r.step, &Difference::step);
        if (said != out.differences().end() ? truth != *said : truth.has_value()) {
          return "a difference said is not the board's, in Step " + std::to_string(r.step);
        }
      }
    }
    if (out.kind() == Kind::Failed && out.cause() == Cause::VersionAfter) {
      if (!Holds(flash, TestImage(), plan)) return std::string("updated, but the board differs");
      return JudgeWord(out, policy, fired);
    }
    if (out.kind() != Kind::Done) return std::nullopt;

    switch (op) {
      case Op::Identify:
        if (fired.empty() && b_.session.Versions().hardware != Version::Of(0x21)) {
          return std::string("identified with a hardware version the board did not give");
        }
        break;
      case Op::Verify:
        if (!Holds(flash, TestImage(), plan)) return std::string("verified, but differs");
        break;
      case Op::Dump: {
        std::ifstream file(dump_, std::ios::binary);
        const Bytes dumped{std::istreambuf_iterator<char>(file), {}};
        if (!lied && !std::equal(flash.begin(), flash.end(), dumped.begin() + 8)) {
          return std::string("the dump is not the flash");
        }
        if (b_.events.done != b_.events.blocks) return std::string("the dump's bar did not fill");
        break;
      }
      case Op::Update:
        if (!Holds(flash, TestImage(), plan)) return std::string("updated, but the board differs");
        if (out.upToDate() && (!policy.ifNeeded || flash != before)) {
          return std::string("up to date, but compared not or written");
        }
        if (auto wrong = JudgeWord(out, policy, fired)) return wrong;
        break;
    }
    return std::nullopt;
  }

  // The firmware after an update is the board's answer, or nothing when a fault kept it.
  std::optional<std::string> JudgeWord(const Outcome& out, const UpdatePolicy& policy,
                                       const std::vector<std::string>& fired) {
    if (!policy.askAfter || out.upToDate()) {
      return out.firmwareAfter() ? std::optional<std::string>("a version after, unasked")
                                 : std::nullopt;
    }
    const auto& after = out.firmwareAfter();
    if (after && *after != Version::Of(b_.board.ReportedFirmware())) {
      return "the version after, " + after->Text() + ", is not the board's";
    }
    if (!after && fired.empty()) return std::string("no version after, though the board answered");
    const bool image = after && *after == Version::Of(0x16);
    const bool failed = out.kind() == Kind::Failed;
    if (image == (failed || !out.note().empty()) || failed != (!image && policy.requireVersion)) {
      return std::string("the board's word after the update said wrongly");
    }
    return std::nullopt;
  }

  std::mt19937 random_;
  Board b_;
  std::ptrdiff_t drawn_ = 0;  // random faults that fired
  bool lying_ = false;        // a read-back of some byte comes back altered for good
  std::ostringstream story_;
  // In memory where there is such a folder: a dump is synced to its disk.
  const std::filesystem::path dump_ =
      (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                 : std::filesystem::temp_directory_path()) /
      ("qvx-model-" + std::to_string(std::random_device{}()));
};

// QVX_MODEL_SEED=N runs the sequences from seed N on; a failure names the seed that replays it.
TEST(SessionModel, EverySequenceOfOperationsTellsTheBoardsTruth) {
  const char* const base = std::getenv("QVX_MODEL_SEED");
  const auto first =
      static_cast<std::uint32_t>(base != nullptr ? std::strtoul(base, nullptr, 10) : 1);
  std::ptrdiff_t drawn = 0;
  for (int i = 0; i < kSequences; ++i) {
    const std::uint32_t seed = first + static_cast<std::uint32_t>(i);
    Sequence sequence(seed);
    if (const auto wrong = sequence.Run()) {
      FAIL() << "seed " << seed << ": " << *wrong;
    }
    drawn += sequence.RandomFaultsFired();
  }
  EXPECT_GT(drawn, 0) << "no random fault fired: the sequences met no transient fault";
}

}  // namespace
}  // namespace qvx::test
