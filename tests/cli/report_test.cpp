// quorvex report in-process: boards counted from record files, whatever order and repeats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "board/board_rack.h"
#include "cli/platform/embedded_firmware.h"
#include "cli/program.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace qvx::cli {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const std::string kSha(64, 'a');

// A flash of board S1 at 21:mm that went well, with these fields instead; a new id each time.
std::string Rec(int minute, const std::string& fields = "") {
  static int id = 0;
  char time[32];
  std::snprintf(time, sizeof time, "2026-12-07T21:%02d:00.000Z", minute);
  char hex[33];
  std::snprintf(hex, sizeof hex, "%032x", ++id);
  std::reverse(hex, hex + 32);  // ids that differ in their first digit
  Json record =
      Json::parse(R"({"schema":2,"host":"h1","command":"flash","serial":"S1","result":"ok",
      "image":{"source":"embedded","sha256":")" +
                  kSha + R"(","version":"1.6"}})");
  record.update({{"id", hex}, {"time", time}});
  record.update(Json::parse("{" + fields + "}"));
  return record.dump() + "\n";
}

// A record of board S7 whose line is n bytes long without its newline.
std::string Sized(std::size_t n) {
  const std::size_t bare = Rec(0, R"("serial":"S7","message":"")").size() - 1;
  return Rec(0, R"("serial":"S7","message":")" + std::string(n - bare, 'x') + "\"");
}

class Report : public ::testing::Test {
 protected:
  Report() { fs::create_directories(dir_); }
  ~Report() override { fs::remove_all(dir_); }

  // The files hold these texts; "@1" in the arguments is the second file.
  int Run(const std::vector<std::string>& files, std::vector<std::string> args) {
    for (std::size_t i = 0; i < files.size(); ++i)
      std::ofstream(Path(i), std::ios::binary) << files[i];
    for (std::string& arg : args) {
      if (arg.starts_with("@")) arg = Path(std::stoul(arg.substr(1)));
    }
    args.insert(args.begin(), "report");
    out_.str("");
    err_.str("");
    const int status =
        cli::Run(args, {rack_, {}, LoadEmbeddedFirmware, out_, err_, nullptr, interrupted_});
#ifdef QVX_MADE
    // For the check against the schemas.
    if (std::ranges::find(args, "--json") != args.end()) {
      std::ofstream(std::string(QVX_MADE) + "/documents.jsonl", std::ios::app)
          << Json::parse(out_.str()).dump() + "\n";
    }
#endif
    return status;
  }
  std::string Path(std::size_t i) const {
    return (dir_ / std::to_string(i)).string();
  }

  board::BoardRack rack_{0};
  const std::atomic<bool> interrupted_{false};
  std::ostringstream out_;
  std::ostringstream err_;
  fs::path dir_ =
      fs::temp_directory_path() / ("qvx-report-" + std::to_string(std::random_device{}()));
};

// Each field the expected document gives, as given.
void ExpectFields(const Json& actual, const Json& expected, const std::string& where) {
  const Json fields = actual.flatten();
  const Json wanted = expected.flatten();
  for (const auto& [pointer, value] : wanted.items()) {
    EXPECT_EQ(fields.value(pointer, Json("absent")), value) << where << " " << pointer;
  }
}

TEST_F(Report, CountsEachBoardOnce) {
  const std::string twice = Rec(0, R"("serial":"S2")");
  const std::string v1 = R"({"schema":1,"time":"2026-12-07T23:59:59Z","command":"flash",)"
                         R"("image":{"sha256":")" +
                         kSha +
                         R"("},"serial":"S9","result":"ok"})"
                         "\n";
  const std::string mixed =
      Rec(0) + Rec(0, R"("serial":"S2","result":"failed","step":1)") +
      Rec(1, R"("serial":"S3","lot":"L1","workOrder":"W1","operator":"ann","later":[{"a":[]},2])") +
      Rec(3, R"("serial":"S4","host":"h2","image":{"sha256":")" + std::string(64, 'b') +
                 R"(","version":"1.7"})");
  const struct {
    std::vector<std::string> files;
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {{Rec(0) + twice + v1, twice + v1 + Rec(0, R"("serial":"S3")") + Rec(0) + twice},
       {"@0", "@1"},
       R"({"records":{"counted":5,"duplicates":3},"images":[{"boards":4,"attempts":5}]})"},
      // Placed by their time, not where they are read: S1 failed then ok, S2 ok then unplugged;
      // at the same moment, the one read first is the earlier: S3 ok then failed.
      {{Rec(1) + Rec(0, R"("result":"failed","step":1)") + Rec(0, R"("serial":"S2")") +
        Rec(2, R"("serial":"S2","result":"unplugged","step":2)") + Rec(0, R"("serial":"S3")") +
        Rec(0, R"("serial":"S3","result":"failed","step":2)")},
       {"@0"},
       R"({"images":[{"boards":3,"firstPass":2,"finalPass":1,"finalPassPercent":33.3,
         "attempts":6,"failedAtLastAttempt":{"Step 2":1,"unplugged":1},
         "failedAttempts":{"Step 1":1,"Step 2":1,"unplugged":1}}]})"},
      // A verify is no attempt, and a board only verified is none; one that compared has the
      // last word (S1 confirmed, S2 failed, S5 good), one that could not (S4) says nothing.
      {{Rec(0, R"("note":"no answer")") + Rec(1, R"("command":"verify","result":"up to date")") +
        Rec(0, R"("serial":"S2","note":"no answer")") +
        Rec(1, R"("serial":"S2","command":"verify","result":"differs","step":2)") +
        Rec(0, R"("serial":"S3","command":"verify")") + Rec(0, R"("command":"info")") +
        Rec(0, R"("serial":"S4","note":"no answer")") +
        Rec(1, R"("serial":"S4","command":"verify","result":"failed","step":2)") +
        Rec(0, R"("serial":"S5","result":"failed","step":1)") +
        Rec(1, R"("serial":"S5","command":"verify","result":"up to date")")},
       {"@0"},
       R"({"records":{"counted":9},"images":[{"boards":4,"attempts":4,"firstPass":3,
         "finalPass":3,"unconfirmed":1,"failedAtLastAttempt":{"Step 2":1},
         "failedAttempts":{"Step 1":1}}]})"},
      {{Rec(0, R"("command":"watch","result":"link failure")") +
        Rec(1, R"("command":"watch","result":"wrong hardware")") + Rec(2, R"("command":"watch")")},
       {"@0"},
       R"({"images":[{"boards":1,"firstPass":0,"finalPass":1,"attempts":3,"mostAttempts":3,
         "meanAttempts":3.0,"failedAttempts":{"link failure":1,"wrong hardware":1},
         "failedAtLastAttempt":{}}]})"},
      {{Rec(0, R"("serial":"")") + Rec(0, R"("serial":"  ")") +
        Rec(0, R"("serialShared":true,"result":"failed")") + Rec(1, R"("serialShared":true)") +
        Rec(2)},
       {"@0"},
       R"({"images":[{"boards":5,"withoutSerial":4,"firstPass":4,"finalPass":4}]})"},
      {{Rec(0, R"("demo":true)") + Rec(0, R"("serial":"S2")")},
       {"@0"},
       R"({"images":[{"boards":1}],"demoImages":[{"boards":1,"sha256":")" + kSha + R"("}]})"},
      {{Sized(65536) + Sized(65537)}, {"@0"}, R"({"records":{"counted":1,"notRecords":1}})"},
      // An id in capitals is the same; ids that differ only in their last digit are not, nor
      // schema-1 lines that differ only in their last value; blanks after a line are no part of it.
      {{Rec(0, R"("id":"A0000000000000000000000000000000")") +
        Rec(0, R"("id":"a0000000000000000000000000000000")") +
        Rec(0, R"("id":"00000000000000000000000000000001")") +
        Rec(0, R"("id":"00000000000000000000000000000002")") + v1 + v1.substr(0, v1.size() - 1) +
        " \r\n" + v1.substr(0, v1.size() - 2) + R"(,"step":1})" + "\n" +
        v1.substr(0, v1.size() - 2) + R"(,"step":2})" + "\n"},
       {"@0"},
       R"({"records":{"counted":6,"duplicates":2}})"},
      {{mixed},
       {"@0", "--since", "2026-12-07T21:01"},
       R"({"records":{"counted":2,"outsideFilters":2}})"},
      {{mixed}, {"@0", "--until", "2026-12-07T21:01:00.000Z"}, R"({"records":{"counted":2}})"},
      {{mixed}, {"@0", "--until", "2026-12-07T21:00:59.999"}, R"({"records":{"counted":2}})"},
      {{mixed}, {"@0", "--since", "2026-12-07T21:00:00.001"}, R"({"records":{"counted":2}})"},
      {{mixed},
       {"@0", "--since", "2026-12-07", "--until", "2026-12-08"},
       R"({"records":{"counted":4}})"},
      {{mixed}, {"@0", "--until", "2026-12-07"}, R"({"records":{"counted":0}})"},
      {{mixed}, {"@0", "--image", "BBB"}, R"({"images":[{"version":"1.7","boards":1}]})"},
      {{mixed}, {"@0", "--image", std::string(64, 'b')}, R"({"records":{"counted":1}})"},
      {{mixed}, {"@0", "--image", "1.6"}, R"({"records":{"counted":3}})"},
      {{mixed}, {"@0", "--host", "h2"}, R"({"records":{"counted":1}})"},
      {{mixed},
       {"@0", "--lot", "L1", "--work-order", "W1", "--operator", "ann"},
       R"({"records":{"counted":1}})"},
      {{mixed}, {"@0", "--operator", "bob"}, R"({"records":{"counted":0},"images":[]})"},
      {{mixed}, {"@0", "--since", "2026-02-30"}, R"({"status":2})"},
      {{mixed}, {"@0", "--since", "2026-12-1/"}, R"({"status":2})"},
      {{mixed}, {"@0", "--until", "2026-12-07T24:00"}, R"({"status":2})"},
      {{mixed}, {"@0", "--image", "1.x"}, R"({"status":2})"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.emplace_back("--json");
    Run(c.files, args);
    ExpectFields(Json::parse(out_.str()), Json::parse(c.expected), c.args.back() + c.expected);
  }
}

// The text, and what is no record said per file and line (the first three of a file).
TEST_F(Report, SaysWhatItCountedAndWhatItSkipped) {
  const auto times = [](const std::string& text, int n) {
    std::string all;
    while (n-- > 0) all += text;
    return all;
  };
  const std::string bad =
      "{\n[1]\n" + Rec(0, R"("schema":3)") + Rec(0, R"("id":")" + std::string(32, 'g') + "\"") +
      Rec(0, R"("time":"7 December")") + Rec(0, R"("image":{})") + Rec(0, R"("result":"")");
  const std::string good =
      Rec(0, R"("result":"failed","step":1)") + Rec(1) + Rec(0, R"("serial":"S2","note":"no")") +
      Rec(0, R"("serial":"S3","command":"watch","result":"unplugged")") +
      Rec(1, R"("serial":"S3","command":"watch","result":"unplugged")") +
      Rec(2, R"("serial":"S3","command":"watch")") + times(Rec(0, R"("serial":"S4")"), 2) +
      Rec(1, R"("serial":"S4","command":"verify","result":"up to date")") +
      Rec(0, R"("serial":"","result":"not in update mode")") +
      Rec(0, R"("demo":true,"image":{"source":")" + times("é", 60) + R"(","sha256":")" + kSha +
                 R"(","version":"1.6"})");
  const std::string folder = (dir_ / "").string();
  EXPECT_EQ(Run({bad + good,
                 Rec(0, R"("message":")" + std::string(1100, 'x') + "\"") +
                     Rec(2, R"("serial":"S5")") + "{\"sch",
                 ""},
                {"@0", "@1", "missing", folder, "@2", "--max-line", "1024"}),
            2);
  EXPECT_EQ(out_.str(),
            "RECORDS\n  counted      11\n  duplicates   1  (counted once)\n  not records  9\n\n"
            "IMAGE 1.6  sha256 aaaaaaaaaaaa  source embedded\n"
            "  boards                      6\n"
            "    without a serial          1  (blank or shared: a board each)\n"
            "  first-pass yield            3  (50.0 %)\n"
            "  final yield                 5  (83.3 %)\n"
            "    unconfirmed               1\n"
            "  attempts per board          1.50 mean, 3 most\n"
            "  failed at the last attempt  1\n"
            "    not in update mode        1\n"
            "  failed attempts             4\n"
            "    unplugged                 2\n"
            "    Step 1                    1\n"
            "    not in update mode        1\n\n"
            "DEMO: demonstration boards, counted apart from the others\n\n"
            "DEMO IMAGE 1.6  sha256 aaaaaaaaaaaa  source " +
                times("é", 33) +
                "...\n"
                "  boards              1\n"
                "  first-pass yield    1  (100.0 %)\n"
                "  final yield         1  (100.0 %)\n"
                "  attempts per board  1.00 mean, 1 most\n");
  const std::string a = "quorvex: " + Path(0);
  const std::string b = "quorvex: " + Path(1);
  EXPECT_EQ(err_.str(), a + ":1: not a record (not valid JSON)\n" + a +
                            ":2: not a record (not an object)\n" + a +
                            ":3: not a record (schema is not 1 or 2)\n" + a +
                            ": 7 lines that are not records in all\n" + b +
                            ":1: not a record (longer than 1024 bytes)\n" + b +
                            ":3: not a record (cut short)\nquorvex: missing: no such file\n"
                            "quorvex: " +
                            folder + ": a folder, not a record file\n");
  EXPECT_EQ(Run({""}, {"@0"}), 0);
  EXPECT_EQ(out_.str(), "No records.\n");
}

// Standard input, and a FIFO whose writer comes after the report started; a stream that breaks
// is an error, never a report of what came before as the whole.
TEST_F(Report, ReadsStreams) {
  std::istringstream in(Rec(0, R"("serial":"S2")"));
  std::streambuf* const standardInput = std::cin.rdbuf(in.rdbuf());
  std::vector<std::string> args{"-", "--json"};
#ifndef _WIN32
  ASSERT_EQ(mkfifo(Path(0).c_str(), 0600), 0);
  const std::jthread writer([this] { std::ofstream(Path(0)) << Rec(0); });
  args.push_back(Path(0));
#endif
  Run({}, args);
  ExpectFields(Json::parse(out_.str()),
               {{"status", 0}, {"records", {{"counted", args.size() - 1}}}}, "streams");
  struct Broken : std::stringbuf {
    int_type underflow() override { throw std::ios_base::failure("broken"); }
  } broken;
  std::cin.rdbuf(&broken);
  EXPECT_EQ(Run({}, {"-"}), 2);
  std::cin.rdbuf(standardInput);
  EXPECT_EQ(err_.str(), "quorvex: standard input: cannot be read\n");
}

}  // namespace
}  // namespace qvx::cli
