// The command line in-process, against a rack of virtual boards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <latch>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <span>
#include <sstream>
#include <thread>
#include <tuple>

#include "board/board_rack.h"
#include "cli/boards/board_run.h"
#include "cli/output/printable.h"
#include "cli/platform/embedded_firmware.h"
#include "cli/platform/interrupt.h"
#include "cli/program.h"
#include "image/firmware_image.h"
#include "support/fixtures.h"

namespace qvx::cli {
namespace {

namespace fs = std::filesystem;

// A JSON document or record line for the check against the schemas, on one line of its own.
void Keep([[maybe_unused]] const char* kind, [[maybe_unused]] const std::string& json) {
#ifdef QVX_MADE
  std::ofstream(std::string(QVX_MADE) + "/" + kind + ".jsonl", std::ios::app)
      << nlohmann::json::parse(json).dump() + "\n";
#endif
}
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using test::Holds;
using test::RegionsFor;

// The plain image the program carries.
Bytes EmbeddedImage() {
  return LoadImage(LoadEmbeddedFirmware).image.value().plain;
}

// Flash bytes no stage writes: addresses 3,072 to 4,095.
constexpr std::size_t kHoleStart = 2 * 3072;
constexpr std::size_t kHoleBytes = 2048;

class Cli : public ::testing::Test {
 protected:
  Cli() {
    InterruptFlag() = false;
    fs::create_directories(dir_);
  }
  ~Cli() override { fs::remove_all(dir_); }

  // Only the first n boards are attached.
  void Attach(std::size_t n) {
    for (std::size_t i = n; i < rack_.Size(); ++i) rack_.Board(i).SetAttached(false);
  }
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    const auto demo = [](std::size_t boards, bool) -> std::unique_ptr<D2xx> {
      return std::make_unique<board::BoardRack>(boards);
    };
    const int status =
        cli::Run(args, {rack_, demo, LoadEmbeddedFirmware, out_, err_, screen_, InterruptFlag()});
    if (std::ranges::find(args, "--json") != args.end()) Keep("documents", out_.str());
    return status;
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string File(const std::string& name, const Bytes& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return Path(name);
  }

  board::BoardRack rack_{4};
  Screen* screen_ = nullptr;
  std::ostringstream out_;
  std::ostringstream err_;
  fs::path dir_ = fs::temp_directory_path() / ("qvx-cli-" + std::to_string(std::random_device{}()));
};

// One board through a session; each step sees what the earlier ones left.
TEST_F(Cli, EachCommandOnOneBoard) {
  Attach(1);
  const std::string dump = Path("dump.bin");
  // Arguments, status, and what standard output or standard error shows.
  using Step = std::tuple<std::vector<std::string>, int, std::string>;
  for (const auto& [args, status, shown] : std::vector<Step>{
           {{"list"}, 0, "QVX00001  1-1.1  Quorvex      2.1       1.1       yes"},
           {{"info"}, 0, "Quorvex - Hardware v2.1\nFirmware: v1.1  -  Upgrading to: v1.6\n"},
           {{"verify"}, 1, "differs: Step 2: first difference at 0x1000, 4 blocks differ"},
           {{"flash"},
            0,
            "QVX00001 at 1-1.1: Step 4\nQVX00001 at 1-1.1: Step 1\nQVX00001 at 1-1.1: ok\n"},
           {{"verify", "--serial", "QVX00001"}, 0, "up to date"},
           {{"dump", dump}, 0, "flash written to " + dump},
           {{"dump", dump}, 2, "exists already; --force replaces it"},
           {{"dump", dump, "--force"}, 0, "flash written to " + dump + " (firmware v1.6)"},
           {{"dump", dump, "--force", "--json"}, 0, "\"port\": \"1-1.1\",\n  \"file\": \""},
           {{"info", "--image", dump}, 0, "Firmware: v1.6  -  Upgrading to: v1.6\n"},
           {{"info", "--image", File("c.bin", *LoadEmbeddedFirmware("JPG", 100))}, 0, "to: v1.6\n"},
           {{"info", "--json"}, 0, "\"firmwareText\": \"Firmware: v1.6  -  Upgrading to: v1.6\""},
           {{"list", "--brief", "--json"},
            0,
            "\"serial\": \"QVX00001\",\n      \"port\": \"1-1.1\""},
           {{"report", "--json", Path("none.jsonl")}, 2, "none.jsonl: no such file"},
           {{"info", "--serial", "QVX00009"}, 3, "no board with serial number QVX00009"},
           {{"dump", Path("x.bin"), "--port", "1-1.9"}, 3, "no board at port 1-1.9"},
       }) {
    EXPECT_EQ(Run(args), status) << args[0] << err_.str();
    EXPECT_NE((out_.str() + err_.str()).find(shown), std::string::npos)
        << testing::PrintToString(args) << out_.str() << err_.str();
  }
  EXPECT_EQ(Run({"list"}), 0);
  EXPECT_EQ(err_.str(), "");  // nothing to say of a board that answered
  rack_.Board(0).Flash()[2 * 0x2403] ^= 0xFF;
  EXPECT_EQ(Run({"verify", "--json"}), 1);
  EXPECT_EQ(nlohmann::json::parse(out_.str())["boards"][0]["differences"],
            nlohmann::json::parse(R"([{"step": "Step 1", "firstAddress": 9219, "blocks": 1}])"));
  rack_.Board(0).FailCall(board::Call::Purge, 2, ft::IO_ERROR);  // the one after "SI"
  EXPECT_EQ(Run({"flash"}), 1);
  EXPECT_NE(out_.str().find("  failed: USB Connection Failure! (FT_Purge returned FT_IO_ERROR)\n"),
            std::string::npos);
  // A set-up call that fails after the open is named; no advice on opening applies.
  rack_.Board(0).FailCall(board::Call::SetTimeouts, 1, ft::IO_ERROR);
  EXPECT_EQ(Run({"info"}), 3);
  EXPECT_NE(err_.str().find("set up (FT_SetTimeouts returned FT_IO_ERROR)"), std::string::npos);
  // A driver call of "SI" that fails is the link's fault, not the operator's.
  rack_.Board(0).FailCall(board::Call::Read, 1, ft::IO_ERROR);
  EXPECT_EQ(Run({"flash"}), 3);
  EXPECT_NE(out_.str().find("link failure: did not answer \"SI\": FT_Read returned FT_IO_ERROR"),
            std::string::npos);
  rack_.Board(0).SetAttached(false);
  EXPECT_EQ(Run({"flash"}), 3);
  EXPECT_EQ(err_.str(), "quorvex: no Quorvex board found\n");
}

// Every usage error is one line in the program's own words, naming the argument and what it
// takes, and where to read more; no board is touched.
TEST_F(Cli, UsageErrorsSayWhatIsWrongInOneLine) {
  const std::string flash = "; see 'quorvex flash --help'";
  const std::string expect = "--expect: '%' is not a whole number from 1 to 1000" + flash;
  const auto with = [](std::string text, const std::string& value) {
    return text.replace(text.find('%'), 1, value);
  };
  using Case = std::pair<std::vector<std::string>, std::string>;
  for (const auto& [args, line] : std::vector<Case>{
           {{"fsh"}, "unknown command 'fsh' (did you mean 'flash'?); see 'quorvex --help'"},
           {{"--", "flsh"}, "unknown command 'flsh' (did you mean 'flash'?); see 'quorvex --help'"},
           {{"flash", "--all", "--expect", "x"}, with(expect, "x")},
           {{"flash", "--all", "--expect", "0x10"}, with(expect, "0x10")},
           {{"flash", "--all", "--expect", "99999999999999999999"},
            with(expect, "99999999999999999999")},
           {{"watch", "--count", "0"},
            "--count: '0' is not a whole number from 1 to 1000000; see 'quorvex watch --help'"},
           {{"info", "--wait=1e3"},
            "--wait: '1e3' is not a number of seconds from 0 to 86400; see 'quorvex info --help'"},
           {{"flash", "--serial"}, "--serial needs a value" + flash},
           {{"flash", "--all", "--serials", "QVX00001,,QVX00002"},
            "--serials: an empty serial number" + flash},
           {{"flash", "--all", "--serials", "QVX00001, QVX00001"},
            "--serials: QVX00001 is named twice" + flash},
           {{"flash", "--all", "--expect", "19", "--serial", "QVX00001"},
            "--serial and --all cannot be given together" + flash},
           {{"report"}, "FILE is needed; see 'quorvex report --help'"},
           {{"report", "-x.jsonl"},
            "unknown option -x.jsonl (a file whose name starts with '-' is written ./-x.jsonl); "
            "see 'quorvex report --help'"},
       }) {
    EXPECT_EQ(Run(args), 2);
    EXPECT_EQ(err_.str(), "quorvex: " + line + "\n");
  }
  EXPECT_EQ(rack_.Board(0).Opens(), 0);
  Attach(2);
  EXPECT_EQ(Run({"flash", "--all", "--serials", " QVX00001, QVX00002"}), 0) << err_.str();
  for (const char* version : {"-V", "--version"}) {
    EXPECT_EQ(Run({version}), 0);
    EXPECT_EQ(out_.str(), "quorvex " QVX_VERSION "\n");
  }
}

// A board whose outcome no path set is a failure, never a success.
TEST(BoardResult, WithoutAnOutcomeIsAFailure) {
  const BoardResult unset;
  EXPECT_EQ(std::make_pair(unset.result, Code(unset.status)),
            std::make_pair(std::string("no outcome"), 1));
}

TEST_F(Cli, FourBoardsOneWithAPersistentFault) {
  rack_.Board(2).CorruptReadBack(2 * 0x2400 + 6, /*persistent=*/true);
  rack_.Board(3).SetWrittenFirmware(0x15);  // what the board says, not what the image claims
  EscapeScreen screen([] { return 100; });
  screen_ = &screen;
  ASSERT_EQ(Run({"flash", "--all", "--json", "--log", Path("log")}), 1);
  // The last frame, drawn below the error line said over the one before; frames in the middle
  // say what time is left.
  EXPECT_TRUE(err_.str().ends_with(
      "\x1b[4F\x1b[Jquorvex: QVX00003 at 1-1.3: failed: Step 1 - Device verify error!  Data is "
      "corrupted!  Re-try update!\n\rQVX00001 at 1-1.1  ok\x1b[K\nQVX00002 at 1-1.2  ok\x1b[K\n"
      "QVX00003 at 1-1.3  failed at Step 1\x1b[K\nQVX00004 at 1-1.4  ok, but the board reports 1.5 "
      "after the update; the image is 1.6\x1b[K\n\x1b[J"))
      << err_.str().substr(err_.str().size() - 300);
  EXPECT_NE(err_.str().find(" left\x1b[K\n"), std::string::npos);
  const auto json = nlohmann::json::parse(out_.str());
  EXPECT_EQ(json["status"], 1);
  EXPECT_EQ(json["image"], "1.6");
  ASSERT_EQ(json["boards"].size(), 4U);
  for (std::size_t i = 0; i < 4; ++i) {
    const auto& board = json["boards"][i];
    EXPECT_EQ(board["serial"], board::BoardRack::SerialNumberOf(i));
    EXPECT_EQ(board["firmwareBefore"], "1.1");
    EXPECT_EQ(board["result"], i == 2 ? "failed" : "ok");
    EXPECT_EQ(board["message"],
              i == 2 ? "Step 1 - Device verify error!  Data is corrupted!  Re-try update!" : "");
    EXPECT_EQ(board["firmwareAfter"], (std::vector<nlohmann::json>{"1.6", "1.6", {}, "1.5"}[i]));
    EXPECT_EQ(board.value("note", ""),
              i == 3 ? "the board reports 1.5 after the update; the image is 1.6" : "");
    EXPECT_TRUE(board["seconds"].is_number());
  }
  std::stringstream log;
  log << std::ifstream(Path("log")).rdbuf();
  for (const char* line : {" QVX00003 at 1-1.3 Step 1 at 0x2000: attempt 50 of 50 failed\n",
                           " QVX00001 at 1-1.1 EX 0x042C\n", " QVX00004 at 1-1.4 purge\n"}) {
    EXPECT_NE(log.str().find(line), std::string::npos) << line;
  }
}

TEST_F(Cli, DumpThenFlashOfTheDumpRestoresTheBoard) {
  Attach(1);
  Bytes& flash = rack_.Board(0).Flash();
  std::generate(flash.begin(), flash.end(), std::mt19937{7});
  std::fill_n(flash.begin() + kHoleStart, kHoleBytes, 0xFF);
  const Bytes original = flash;
  const std::string dump = Path("board.bin");
  ASSERT_EQ(Run({"dump", dump, "--serial", "QVX00001"}), 0) << err_.str();
  std::fill(flash.begin(), flash.end(), 0xFF);
  ASSERT_EQ(Run({"flash", "--image", dump}), 0) << err_.str();
  EXPECT_EQ(flash, original);
}

TEST_F(Cli, BadImageFilesTouchNoBoard) {
  Bytes byte4(kImageSize), fw(kImageSize);
  byte4[0] = fw[0] = 'F';
  byte4[1] = 'W';
  byte4[4] = 1;
  for (const auto& [path, rule] : std::vector<std::pair<std::string, std::string>>{
           {Path("missing.bin"), "no such file"},
           {dir_.string(), "not a regular file"},
           {File("short.bin", Bytes(10)),
            "10 bytes, but a firmware file is a container of 262176 "
            "bytes or a plain image of 65544 bytes"},
           {File("fw.bin", fw), "the image does not start with \"FW\""},
           {File("byte4.bin", byte4), "byte 4 of the image is not 0"},
       }) {
    EXPECT_EQ(Run({"flash", "--image", path}), 2);
    EXPECT_EQ(err_.str(), "quorvex: " + path + ": " + rule + "\n");
  }
  EXPECT_EQ(rack_.Board(0).Opens(), 0);
}

TEST_F(Cli, SeveralBoardsAndNoSelectionTouchNone) {
  Attach(2);
  EXPECT_EQ(Run({"flash"}), 2);
  EXPECT_EQ(err_.str(),
            "quorvex: 2 boards are attached; choose one with --serial or --port, or take all with "
            "--all:\n  QVX00001 at 1-1.1\n  QVX00002 at 1-1.2\n");
  EXPECT_EQ(rack_.Board(0).Opens() + rack_.Board(1).Opens(), 0);
}

TEST_F(Cli, ListShowsWhatKeepsABoardClosed) {
  Attach(2);
  FT_HANDLE elsewhere = nullptr;
  ASSERT_EQ(rack_.FT_OpenEx("QVX00002", ft::OPEN_BY_SERIAL_NUMBER, &elsewhere), ft::OK);
  EXPECT_EQ(Run({"list", "--json"}), 0);
  EXPECT_EQ(nlohmann::json::parse(out_.str()), nlohmann::json::parse(R"({
      "schema": 2, "program": "quorvex )" QVX_VERSION R"(", "command": "list", "status": 0,
      "imageSha256": "e922d048304ad276c4ce2acfe83f37141e901f44afa65b9933587a2cade47d1d",
      "boards": [{"serial": "QVX00001", "port": "1-1.1", "description": "Quorvex",
                  "hardware": "2.1", "firmware": "1.1", "updateMode": true}],
      "unopened": [{"serial": "QVX00002", "port": "1-1.2", "description": "Quorvex", "reason":
          "could not be opened: in use by another program: close that program, then try again"}]
  })"));
  EXPECT_EQ(Run({"flash", "--all"}), 3);  // --all leaves alone only boards not in update mode
  rack_.FT_Close(elsewhere);
}

// Text from the hardware as a terminal may show it: printable UTF-8 as it is, anything else by
// its bytes.
TEST(Printable, EscapesEveryByteThatIsNotPrintableUtf8) {
  for (const auto& [raw, shown] : std::vector<std::pair<std::string, std::string>>{
           {"Q\\\xC3\xA9\xC4\x80\xE2\x9C\x93\xF0\x9F\x98\x80",
            "Q\\x5C\xC3\xA9\xC4\x80\xE2\x9C\x93\xF0\x9F\x98\x80"},
           // controls, DEL, a bad third byte, a stray byte, an overlong form, a code point too
           // high, a sequence cut short
           {"\x1B\x7F\xC2\x9B\xE2\x9C\x41\xFF\xE0\x80\x80\xF4\x90\x80\x80\xE2\x9C",
            "\\x1B\\x7F\\xC2\\x9B\\xE2\\x9CA\\xFF\\xE0\\x80\\x80\\xF4\\x90\\x80\\x80\\xE2\\x9C"}}) {
    EXPECT_EQ(Printable(raw), shown);
  }
}

// Ctrl-C while all four boards are in the middle of their update.
TEST_F(Cli, InterruptEndsEveryUpdateAtItsNextBlockAndClosesEveryLink) {
  std::latch allWriting(4);
  std::once_flag once;  // one Ctrl-C; no board goes on before it came
  for (std::size_t i = 0; i < 4; ++i) {
    rack_.Board(i).AfterCommand("WF", 3, [&allWriting, &once] {
      allWriting.arrive_and_wait();
      std::call_once(once, [] { InterruptFlag() = true; });
    });
  }
  EXPECT_EQ(Run({"flash", "--all"}), 130);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(std::ranges::count(rack_.Board(i).Commands(), "WF", &board::Command::mnemonic), 3);
    EXPECT_FALSE(rack_.Board(i).IsOpen());
  }
  EXPECT_EQ(rack_.StrayCalls(), 0);
  InterruptFlag() = false;
  rack_.Board(0).AfterCommand("RF", 2, [] { InterruptFlag() = true; });
  EXPECT_EQ(Run({"verify", "--serial", "QVX00001"}), 130);
  EXPECT_TRUE(out_.str().ends_with("  interrupted\n")) << out_.str();
  // The station stops while a board is still inside a driver call: it waits for the board.
  InterruptFlag() = false;
  rack_.Board(0).AfterCommand("WF", 2, [] {
    InterruptFlag() = true;
    std::this_thread::sleep_for(200ms);
  });
  EXPECT_EQ(Run({"watch"}), 130);
  EXPECT_FALSE(rack_.Board(0).IsOpen());
  const std::string board = out_.str().substr(out_.str().find("\nQVX00001 "));
  EXPECT_TRUE(board.substr(0, board.find('\n', 1)).ends_with(" interrupted")) << out_.str();
}

// Records as the station writes them, by serial number: the lines of the file, each parsed.
// Only whole lines: the file may be read while a line is written.
std::vector<nlohmann::json> RecordsIn(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  std::vector<nlohmann::json> lines;
  std::string line;
  while (std::getline(text, line) && !text.eof()) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// A driver that cannot list opens the board by its description, and the record then has no
// serial number: never the description, which would make every such board one.
TEST_F(Cli, ABoardOpenedByDescriptionHasNoSerialNumber) {
  struct Unlisted : board::BoardRack {
    using BoardRack::BoardRack;
    FT_STATUS FT_CreateDeviceInfoList(DWORD* /*count*/) override { return ft::IO_ERROR; }
  } unlisted(1);
  const std::atomic<bool> never{false};
  const std::vector<std::string> args{"flash", "--record", Path("records")};
  EXPECT_EQ(cli::Run(args, {unlisted, {}, LoadEmbeddedFirmware, out_, err_, nullptr, never}), 0);
  EXPECT_EQ(RecordsIn(Path("records")).at(0)["serial"], "");
}

// A demonstration touches no board of the driver's, and says so in every result line, document
// and record, so that none of its boards is ever counted as a real one.
TEST_F(Cli, ADemonstrationSaysSoEverywhere) {
  const std::string records = Path("records");
  EXPECT_EQ(Run({"--demo", "2", "flash", "--all", "--record", records}), 0);
  EXPECT_NE(out_.str().find("QVX00002  1-1.2  1.1 -> 1.6  "), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("  ok (demo)\n"), std::string::npos) << out_.str();
  EXPECT_TRUE(err_.str().starts_with("quorvex: a demonstration on 2 virtual boards")) << err_.str();
  const auto lines = RecordsIn(records);
  ASSERT_EQ(lines.size(), 2U);
  for (const auto& line : lines) EXPECT_EQ(line.value("demo", false), true) << line;
  EXPECT_EQ(Run({"--demo", "verify", "--serial", "QVX00004", "--json"}), 1) << err_.str();
  EXPECT_EQ(nlohmann::json::parse(out_.str())["demo"], true);
  EXPECT_EQ(Run({"flash", "--serial", "QVX00001", "--json", "--record", records}), 0);
  EXPECT_FALSE(nlohmann::json::parse(out_.str()).contains("demo"));
  EXPECT_FALSE(RecordsIn(records).back().contains("demo"));
  for (std::size_t i = 1; i < rack_.Size(); ++i) EXPECT_TRUE(rack_.Board(i).Commands().empty());
}

// Boards come and go while the station runs: each is flashed once per plug-in, a board pulled
// out mid-update and one not in update mode are failures, and every outcome is a record.
TEST_F(Cli, WatchFlashesEachBoardOncePerPlugIn) {
  rack_.Board(1).UnplugAfter("WF", 3);
  rack_.Board(2).SetVersions(0, 0);
  rack_.Board(3).SetAttached(false);
  const std::string records = Path("records");
  std::thread hands([this, &records] {
    // A station that misses what happens is interrupted, so that it fails rather than waits.
    const auto until = [&records](std::size_t lines) {
      for (int wait = 0; RecordsIn(records).size() < lines; ++wait) {
        if (wait == 3000) {
          InterruptFlag() = true;
          return;
        }
        std::this_thread::sleep_for(10ms);
      }
    };
    until(3);
    std::this_thread::sleep_for(600ms);  // long enough for a second flash, were there one
    EXPECT_EQ(RecordsIn(records).size(), 3U);
    rack_.Unplug("1-1.1");
    rack_.Unplug("1-1.3");
    std::this_thread::sleep_for(1s);         // a few listings
    rack_.Board(2).SetVersions(0x21, 0x11);  // put in update mode while out
    rack_.Plug("QVX00001", "1-1.1");
    rack_.Plug("QVX00003", "1-1.3");
    rack_.Plug("QVX00004", "1-1.4");
    rack_.Plug("QVX00002", "1-1.2");  // where a board was pulled out mid-update
    until(7);
  });
  EXPECT_EQ(Run({"watch", "--count", "7", "--record", records}), 1);
  hands.join();
  std::multiset<std::string> results;
  for (const auto& line : RecordsIn(records)) {
    Keep("records", line.dump());
    EXPECT_EQ(line["schema"], 2);
    EXPECT_EQ(line["command"], "watch");
    EXPECT_EQ(line["image"]["version"], "1.6");
    results.insert(
        line["serial"].get<std::string>() + " " + line["port"].get<std::string>() + " " +
        line["result"].get<std::string>() + " " +
        (line["firmwareAfter"].is_string() ? line["firmwareAfter"].get<std::string>() : "") + " " +
        std::to_string(line.value("step", 0)));
  }
  EXPECT_EQ(results,
            (std::multiset<std::string>{"QVX00001 1-1.1 ok 1.6 0", "QVX00001 1-1.1 ok 1.6 0",
                                        "QVX00002 1-1.2 unplugged  2", "QVX00002 1-1.2 ok 1.6 0",
                                        "QVX00003 1-1.3 not in update mode  0",
                                        "QVX00003 1-1.3 ok 1.6 0", "QVX00004 1-1.4 ok 1.6 0"}));
  EXPECT_NE(
      out_.str().find("boards                7\npassed                5\nfailed                2\n"
                      "  not in update mode  1\n  unplugged           1\n"),
      std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("\nQVX00003  1-1.3  1.1 -> 1.6  "), std::string::npos);  // the table
  // A board pulled out leaves the display, which would otherwise grow all shift: after its result,
  // or mid-update when the next board takes its port.
  for (const char* gone : {"QVX00001 at 1-1.1: removed\n", "QVX00003 at 1-1.3: removed\n",
                           "QVX00002 at 1-1.2: removed\n"}) {
    EXPECT_NE(err_.str().find(gone), std::string::npos) << err_.str();
  }
}

TEST_F(Cli, WaitEndsAtArrivalAtItsLimitOrAtAnInterrupt) {
  Attach(0);
  std::thread later([this] {
    std::this_thread::sleep_for(300ms);
    rack_.Plug("QVX00002", "1-1.2");
    std::this_thread::sleep_for(300ms);
    rack_.Plug("QVX00009", "1-1.9");
  });
  EXPECT_EQ(Run({"info", "--serial", "QVX00002", "--wait=10"}), 0) << err_.str();
  EXPECT_EQ(Run({"info", "--port", "1-1.9", "--wait=10"}), 0) << err_.str();
  later.join();
  EXPECT_EQ(Run({"dump", Path("x"), "--port", "1-1.8", "--wait", "0.3"}), 3);
  EXPECT_EQ(err_.str(), "quorvex: no board at port 1-1.8\n");
  std::thread interrupt([] {
    std::this_thread::sleep_for(300ms);
    InterruptFlag() = true;
  });
  EXPECT_EQ(Run({"flash", "--all", "--expect", "4", "--wait"}), 130);
  interrupt.join();
  EXPECT_EQ(Run({"watch"}), 130);
  EXPECT_EQ(Run({"flash", "--all"}), 130);  // interrupted before the board was opened
}

// Serial numbers that cannot name one board, and an expectation short of boards.
TEST_F(Cli, BoardsByPortAndWhatAStationExpects) {
  Attach(3);
  rack_.Board(1).SetSerialNumber("QVX00001");
  rack_.Board(2).SetSerialNumber("");
  // Where a board's flash carries its firmware's version.
  constexpr std::size_t kVersionByte =
      board::BoardProtocol::kFirmwareMarkByte + board::BoardProtocol::kFirmwareMark.size();
  // The firmware version the third board's flash carries first (0: as it is), the arguments, the
  // status, what is shown and how many blocks are written to that board.
  using Step = std::tuple<std::uint8_t, std::vector<std::string>, int, std::string, long>;
  for (const auto& [firmware, args, status, shown, written] : std::vector<Step>{
           {0,
            {"info", "--serial", "QVX00001"},
            2,
            "2 boards have serial number QVX00001; choose one with --port:\n"
            "  QVX00001 at 1-1.1\n  QVX00001 at 1-1.2\n",
            0},
           {0, {"flash", "--port", "1-1.3"}, 0, "\n        1-1.3  1.1 -> 1.6", 31},
           {0,
            {"flash", "--all", "--expect", "4", "--serials", "QVX00001,QVX00007"},
            1,
            "quorvex: 4 boards expected, 3 found\nquorvex: board QVX00007 is missing\n",
            29},
       }) {
    if (firmware != 0) rack_.Board(2).Flash()[kVersionByte] = firmware;
    const std::size_t before = rack_.Board(2).Commands().size();
    EXPECT_EQ(Run(args), status) << err_.str();
    EXPECT_NE((out_.str() + err_.str()).find(shown), std::string::npos) << out_.str() << err_.str();
    EXPECT_EQ(std::ranges::count(std::span(rack_.Board(2).Commands()).subspan(before), "WF",
                                 &board::Command::mnemonic),
              written);
  }
  // A board not in update mode is never passed over, and gives a station the same status.
  rack_.Board(0).SetVersions(0, 0);
  EXPECT_EQ(Run({"flash", "--all"}), 3);
  EXPECT_EQ(Run({"watch", "--count", "3"}), 3);
}

// Every command and option that reports a success, judged by what the board's flash holds and
// what it answered; one board, each case starting from the flash and firmware it gives.
TEST_F(Cli, EverySuccessIsTheBoardsOwnWord) {
  Attach(1);
  board::VirtualBoard& board = rack_.Board(0);
  const Bytes image = EmbeddedImage();
  Bytes other = image;  // the same version, other bytes
  other[8 + 2 * 9000] ^= 0xFF;
  const std::string otherFile = File("other.bin", other);
  const Bytes erased(board::VirtualBoard::kFlashBytes, 0xFF);
  const Bytes holding = test::FlashAfterUpdate(image, 0x12);
  struct Case {
    std::uint8_t firmware;
    std::optional<Bytes> flash;  // nothing: as the case before left it
    std::function<void()> arm;
    std::string args;  // split at blanks
    int status;
    std::string shown;
    const Bytes* holds;  // the image the board must hold after; nothing: the flash as it was
  };
  const auto silentAfter = [&board] { board.SwallowReply("SI", 3); };  // Open, Identify, after
  const auto reports15 = [&board] { board.SetWrittenFirmware(0x15); };
  const char* const k15 = "ok, but the board reports 1.5 after the update; the image is 1.6";
  const Case cases[] = {
      {0x11, erased, {}, "flash", 0, "1.1 -> 1.6", &image},
      {0x16, {}, {}, "verify", 0, "up to date", &image},
      {0x12, erased, {}, "flash --if-needed", 0, "1.2 -> 1.6", &image},
      {0x16, holding, {}, "flash --if-needed", 0, "up to date", nullptr},
      {0x16, holding, {}, "flash --if-needed --image " + otherFile, 0, "1.6 -> 1.6", &other},
      {0x17, erased, {}, "flash", 1, "refused: The image is older", nullptr},
      {0x17, erased, {}, "flash --allow-older", 0, "1.7 -> 1.6", &image},
      {0x12,
       erased,
       {},
       "watch --count 1 --hardware 2.0",
       1,
       "wrong hardware: hardware 2.1, but this update is for hardware 2.0",
       nullptr},
      {0x12,
       erased,
       {},
       "flash --image-sha256 " + std::string(64, '0'),
       2,
       "the image's SHA-256 is e922d048",
       nullptr},
      {0x12,
       erased,
       {},
       "watch --image-sha256 " + std::string(64, '0'),
       2,
       "the image's SHA-256 is e922d048",
       nullptr},
      {0x12, erased, {}, "watch --count 1", 0, "1.2 -> 1.6", &image},
      {0x12, erased, {}, "watch --count 1 --if-needed", 0, "1.2 -> 1.6", &image},
      {0x12, erased, silentAfter, "flash", 0, "ok, but no answer after the update", &image},
      {0x12, erased, silentAfter, "flash --require-version", 1,
       "failed: no answer after the update", &image},
      {0x12, erased, reports15, "flash", 0, k15, &image},
      {0x12, erased, reports15, "watch --count 1 --require-version --json", 1,
       "failed: the board reports 1.5", &image},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::vector<std::string> args;
    std::istringstream words(c.args);
    for (std::string word; words >> word;) args.push_back(word);
    board.SetVersions(0x21, c.firmware);
    board.SetWrittenFirmware(std::nullopt);  // the flash tells
    if (c.flash) board.Flash() = *c.flash;
    if (c.arm) c.arm();
    const Bytes before = board.Flash();
    EXPECT_EQ(Run(args), c.status) << err_.str();
    EXPECT_NE((out_.str() + err_.str()).find(c.shown), std::string::npos) << out_.str();
    if (c.holds != nullptr) {
      EXPECT_TRUE(Holds(board.Flash(), *c.holds, RegionsFor(c.firmware)));
    } else {
      EXPECT_EQ(board.Flash(), before);
    }
  }
  // The version after is the board's answer, or nothing: never the one from before.
  board.SetVersions(0x21, 0x12);
  board.Flash() = erased;
  board.SetWrittenFirmware(std::nullopt);
  board.SwallowReply("SI", 3);
  ASSERT_EQ(Run({"flash", "--json"}), 0);
  const auto json = nlohmann::json::parse(out_.str())["boards"][0];
  EXPECT_EQ(std::make_tuple(json["hardware"], json["firmwareBefore"], json["firmwareAfter"]),
            std::make_tuple("2.1", "1.2", nlohmann::json()));
}

}  // namespace
}  // namespace qvx::cli
