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
#include "cli/board_run.h"
#include "cli/cli.h"
#include "cli/embedded_firmware.h"
#include "cli/interrupt.h"
#include "cli/printable.h"
#include "image/firmware_image.h"

namespace qvx::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Flash bytes no stage writes: addresses 3,072 to 4,095.
constexpr std::size_t kHoleStart = 2 * 3072;
constexpr std::size_t kHoleBytes = 2048;

class Cli : public ::testing::Test {
 protected:
  Cli() {
    InterruptFlag() = false;
    fs::create_directories(dir_);
    for (std::size_t i = 0; i < rack_.Size(); ++i) rack_.Board(i).SetWrittenFirmware(0x16);
  }
  ~Cli() override { fs::remove_all(dir_); }

  // Only the first n boards are attached.
  void Attach(std::size_t n) {
    for (std::size_t i = n; i < rack_.Size(); ++i) rack_.Board(i).SetAttached(false);
  }
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return cli::Run(args, {rack_, LoadEmbeddedFirmware, out_, err_, terminal_, InterruptFlag()});
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string File(const std::string& name, const Bytes& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return Path(name);
  }

  board::BoardRack rack_{4};
  bool terminal_ = false;
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
           {{"info", "--serial", "QVX00009"}, 3, "no board with serial number QVX00009"},
           {{"dump", Path("x.bin"), "--port", "1-1.9"}, 3, "no board at port 1-1.9"},
           {{"flash", "--all", "--serial", "QVX00001"}, 2, "excludes"},
           {{"--help"}, 0, "  4    all else succeeded, but standard output"},
           {{"--version"}, 0, "quorvex " QVX_VERSION "\n"},
       }) {
    EXPECT_EQ(Run(args), status) << args[0] << err_.str();
    EXPECT_NE((out_.str() + err_.str()).find(shown), std::string::npos) << out_.str() << err_.str();
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
  rack_.Board(0).SetAttached(false);
  EXPECT_EQ(Run({"flash"}), 3);
  EXPECT_EQ(err_.str(), "quorvex: no Quorvex board found\n");
}

// A board whose outcome no path set is a failure, never a success.
TEST(BoardReport, WithoutAnOutcomeIsAFailure) {
  const BoardReport unset;
  EXPECT_EQ(std::make_pair(ResultText(unset), ExitStatus(unset)),
            std::make_pair(std::string("no outcome"), 1));
}

TEST_F(Cli, FourBoardsOneWithAPersistentFault) {
  rack_.Board(2).CorruptReadBack(2 * 0x2400 + 6, /*persistent=*/true);
  rack_.Board(3).SetWrittenFirmware(0x15);  // what the board says, not what the image claims
  terminal_ = true;
  ASSERT_EQ(Run({"flash", "--all", "--json", "--log", Path("log")}), 1);
  // The last frame, drawn over the one before; frames in the middle say what time is left.
  EXPECT_NE(
      err_.str().rfind("\x1b[4FQVX00001 at 1-1.1  ok            [########################] 100%   "
                       "124/124 KiB\x1b[K\nQVX00002 at 1-1.2  ok"),
      std::string::npos);
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
    EXPECT_EQ(board["firmwareAfter"], (std::vector<std::string>{"1.6", "1.6", "", "1.5"}[i]));
    EXPECT_TRUE(board["seconds"].is_number());
  }
  std::stringstream log;
  log << std::ifstream(Path("log")).rdbuf();
  for (const char* line : {" QVX00003 Step 1 at 0x2000: attempt 50 of 50 failed\n",
                           " QVX00001 EX 0x042C\n", " QVX00004 purge\n"}) {
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

// Record files from two stations; what is not a record, or not an update, counts for nothing.
TEST_F(Cli, ReportGivesTheYieldOfEachImage) {
  const auto record = [](char sha, const char* command, const char* result, const char* more) {
    return R"({"schema":1,"command":")" + std::string(command) +
           R"(","image":{"source":"embedded","sha256":")" + std::string(64, sha) +
           R"(","version":"1.)" + sha + R"("},"result":")" + result + "\"" + more + "}\n";
  };
  std::ofstream(Path("a")) << record('a', "flash", "ok", R"(,"seconds":12)")
                           << record('a', "flash", "failed", R"(,"step":1,"seconds":3)") << "{\n"
                           << record('b', "verify", "up to date", R"(,"seconds":2)") << "[1]\n"
                           << record('a', "info", "ok", R"(,"seconds":1)") << "\n{\"schema\":2}\n"
                           << record('a', "flash", "ok", R"(,"seconds":13)")
                           << R"({"schema":1,"command":"flash","result":"ok"})"
                              "\n";
  std::ofstream(Path("b")) << record('a', "watch", "not in update mode", R"(,"step":0)")
                           << record('b', "flash", "ok", R"(,"seconds":5)")
                           << record('b', "flash", "unplugged", "")
                           << record('c', "flash", "ok", R"(,"seconds":"x")")
                           << record('a', "flash", "ok", R"(,"seconds":20)") << "{\"schema\":1,";
  EXPECT_EQ(Run({"report", Path("a"), Path("missing"), Path("b")}), 2);
  EXPECT_EQ(out_.str(),
            "IMAGE 1.a  sha256 aaaaaaaa...aaaa  source embedded\n  boards                5\n"
            "  passed                3  (60.0 %)\n  failed                2\n"
            "    Step 1              1\n    not in update mode  1\n  median                13.0 s\n"
            "\nIMAGE 1.b  sha256 bbbbbbbb...bbbb  source embedded\n  boards       3\n"
            "  passed       2  (66.6 %)\n  failed       1\n    unplugged  1\n  median       3.5 s\n"
            "\nIMAGE 1.c  sha256 cccccccc...cccc  source embedded\n  boards  1\n"
            "  passed  1  (100.0 %)\n  failed  0\n  median  -\n");
  const std::string a = "quorvex: " + Path("a");
  EXPECT_EQ(err_.str(),
            a + ":3: not a record (not valid JSON)\n" + a + ":5: not a record (not an object)\n" +
                a + ":8: not a record (schema is not 1)\n" + a +
                ": 4 lines that are not records in all\nquorvex: " + Path("missing") +
                ": no such file\nquorvex: " + Path("b") + ":6: not a record (cut short)\n");
  EXPECT_EQ(Run({"report", "--json", Path("a")}), 0);
  const auto json = nlohmann::json::parse(out_.str());
  EXPECT_EQ(std::make_tuple(json["lines"], json["badLines"], json["images"][0]["failed"],
                            json["images"][1]["medianSeconds"]),
            std::make_tuple(9, 4, nlohmann::json{{"Step 1", 1}}, 2.0));
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
      "schema": 1, "program": "quorvex )" QVX_VERSION R"(", "command": "list", "status": 0,
      "imageSha256": "80092c66e569399a1afe0d2a03c5c3fa8d47546347da2d0c9c88145be413ccb9",
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
           // controls, a stray byte, an overlong form, a code point too high, a sequence cut short
           {"\x1B\xC2\x9B\xFF\xE0\x80\x80\xF4\x90\x80\x80\xE2\x9C",
            "\\x1B\\xC2\\x9B\\xFF\\xE0\\x80\\x80\\xF4\\x90\\x80\\x80\\xE2\\x9C"}}) {
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
    until(6);
  });
  EXPECT_EQ(Run({"watch", "--count", "6", "--record", records}), 1);
  hands.join();
  std::multiset<std::string> results;
  for (const auto& line : RecordsIn(records)) {
    EXPECT_EQ(line["schema"], 1);
    EXPECT_EQ(line["command"], "watch");
    EXPECT_EQ(line["image"]["version"], "1.6");
    results.insert(line["serial"].get<std::string>() + " " + line["port"].get<std::string>() + " " +
                   line["result"].get<std::string>() + " " + line.value("firmwareAfter", "") + " " +
                   std::to_string(line.value("step", 0)));
  }
  EXPECT_EQ(results, (std::multiset<std::string>{
                         "QVX00001 1-1.1 ok 1.6 0", "QVX00001 1-1.1 ok 1.6 0",
                         "QVX00002 1-1.2 unplugged  2", "QVX00003 1-1.3 not in update mode  0",
                         "QVX00003 1-1.3 ok 1.6 0", "QVX00004 1-1.4 ok 1.6 0"}));
  EXPECT_NE(
      out_.str().find("boards                6\npassed                4\nfailed                2\n"
                      "  not in update mode  1\n  unplugged           1\n"),
      std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("\nQVX00003  1-1.3  1.1 -> 1.6  "), std::string::npos);  // the table
}

TEST_F(Cli, WaitEndsAtArrivalAtItsLimitOrAtAnInterrupt) {
  Attach(0);
  std::thread later([this] {
    std::this_thread::sleep_for(300ms);
    rack_.Plug("QVX00002", "1-1.2");
  });
  EXPECT_EQ(Run({"info", "--serial", "QVX00002", "--wait=10"}), 0) << err_.str();
  later.join();
  EXPECT_EQ(Run({"dump", Path("x"), "--port", "1-1.9", "--wait", "0.3"}), 3);
  EXPECT_EQ(err_.str(), "quorvex: no board at port 1-1.9\n");
  std::thread interrupt([] {
    std::this_thread::sleep_for(300ms);
    InterruptFlag() = true;
  });
  EXPECT_EQ(Run({"flash", "--all", "--expect", "2", "--wait"}), 130);
  interrupt.join();
  EXPECT_EQ(Run({"watch"}), 130);
  EXPECT_EQ(Run({"flash", "--all"}), 130);  // interrupted before the board was opened
}

// Serial numbers that cannot name one board, an expectation short of boards, a board that holds
// the image already and firmware newer than the image.
TEST_F(Cli, BoardsByPortAndWhatAStationExpects) {
  Attach(3);
  rack_.Board(1).SetSerialNumber("QVX00001");
  rack_.Board(2).SetSerialNumber("");
  // The firmware the blank board reports first (0: as it is), the arguments, the status, what
  // is shown and how many blocks are written to the blank board.
  using Step = std::tuple<std::uint8_t, std::vector<std::string>, int, std::string, long>;
  for (const auto& [firmware, args, status, shown, written] : std::vector<Step>{
           {0,
            {"info", "--serial", "QVX00001"},
            2,
            "2 boards have serial number QVX00001; choose one with --port:\n"
            "  QVX00001 at 1-1.1\n  QVX00001 at 1-1.2\n",
            0},
           {0, {"flash", "--port", "1-1.3"}, 0, "\n        1-1.3  1.1 -> 1.6", 31},
           {0, {"flash", "--port", "1-1.3", "--if-needed"}, 0, "up to date", 0},
           {0,
            {"flash", "--all", "--expect", "4", "--serials", "QVX00001,QVX00007"},
            1,
            "quorvex: 4 boards expected, 3 found\nquorvex: board QVX00007 is missing\n",
            29},
           {0x17,
            {"flash", "--port", "1-1.3"},
            1,
            "refused: The image is older than the board's",
            0},
           {0x17, {"flash", "--port", "1-1.3", "--allow-older"}, 0, "1.7 -> 1.6", 29},
       }) {
    if (firmware != 0) rack_.Board(2).SetVersions(0x21, firmware);
    const std::size_t before = rack_.Board(2).Commands().size();
    EXPECT_EQ(Run(args), status) << err_.str();
    EXPECT_NE((out_.str() + err_.str()).find(shown), std::string::npos) << out_.str() << err_.str();
    EXPECT_EQ(std::ranges::count(std::span(rack_.Board(2).Commands()).subspan(before), "WF",
                                 &board::Command::mnemonic),
              written);
  }
  rack_.Board(0).SetVersions(0, 0);
  EXPECT_EQ(Run({"flash", "--all"}), 3);  // a board not in update mode is never passed over
}

}  // namespace
}  // namespace qvx::cli
