// The command line in-process, against a rack of virtual boards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <latch>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
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
using Bytes = std::vector<std::uint8_t>;

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
           {{"list"}, 0, "QVX00001  Quorvex      2.1       1.1       yes"},
           {{"info"}, 0, "Quorvex - Hardware v2.1\nFirmware: v1.1  -  Upgrading to: v1.6\n"},
           {{"verify"}, 1, "differs: Step 2: first difference at 0x1000, 4 blocks differ"},
           {{"flash"}, 0, "QVX00001: Step 4\nQVX00001: Step 1\nQVX00001: ok\n"},
           {{"verify", "--serial", "QVX00001"}, 0, "up to date"},
           {{"dump", dump}, 0, "flash written to " + dump},
           {{"dump", dump}, 2, "exists already; --force replaces it"},
           {{"dump", dump, "--force"}, 0, "flash written to " + dump + " (firmware v1.1)"},
           {{"dump", dump, "--force", "--json"}, 0, "\"file\": \"" + dump + "\",\n  \"firmware\""},
           {{"info", "--image", dump}, 0, "Firmware: v1.1  -  Upgrading to: v1.1\n"},
           {{"info", "--image", File("c.bin", *LoadEmbeddedFirmware("JPG", 100))}, 0, "to: v1.6\n"},
           {{"info", "--serial", "QVX00009"}, 3, "no board with serial number QVX00009"},
           {{"dump", Path("x.bin"), "--serial", "QVX00009"}, 3, "QVX00009: not opened: no board"},
           {{"flash", "--all", "--serial", "QVX00001"}, 2, "excludes"},
           {{"--help"}, 0, "  4    all else succeeded, but standard output"},
       }) {
    EXPECT_EQ(Run(args), status) << args[0] << err_.str();
    EXPECT_NE((out_.str() + err_.str()).find(shown), std::string::npos) << out_.str() << err_.str();
  }
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
  terminal_ = true;
  ASSERT_EQ(Run({"flash", "--all", "--json", "--log", Path("log")}), 1);
  // The last frame, drawn over the one before; frames in the middle say what time is left.
  EXPECT_NE(
      err_.str().rfind("\x1b[4FQVX00001  ok           [########################] 100%   124/124 "
                       "KiB\x1b[K\nQVX00002  ok"),
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
    EXPECT_EQ(board["firmwareAfter"], i == 2 ? "" : "1.6");
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
                           << record('c', "flash", "ok", "")
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
            "quorvex: 2 boards are attached; choose one with --serial or take all with --all:\n"
            "  QVX00001\n  QVX00002\n");
  EXPECT_EQ(rack_.Board(0).Opens() + rack_.Board(1).Opens(), 0);
}

TEST_F(Cli, ListShowsWhatKeepsABoardClosed) {
  Attach(2);
  FT_HANDLE elsewhere = nullptr;
  ASSERT_EQ(rack_.FT_OpenEx("QVX00002", ft::OPEN_BY_SERIAL_NUMBER, &elsewhere), ft::OK);
  EXPECT_EQ(Run({"list", "--json"}), 0);
  EXPECT_EQ(nlohmann::json::parse(out_.str()), nlohmann::json::parse(R"({
      "command": "list", "status": 0,
      "boards": [{"serial": "QVX00001", "description": "Quorvex", "hardware": "2.1",
                  "firmware": "1.1", "updateMode": true}],
      "unopened": [{"serial": "QVX00002", "description": "Quorvex", "reason":
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

}  // namespace
}  // namespace qvx::cli
