// kvfix207-cli as a program: exit codes, what goes to stdout and what to stderr, a
// repair of a demo company that mends exactly the planted fields, and a scan that
// lists exactly those and writes nothing.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/Run.h"
#include "app/Version.h"
#include "cli/CliDialogs.h"
#include "isam/Engine.h"
#include "platform/Cp874.h"
#include "platform/File.h"
#include "support/Host.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

// Under --yes the start-up, repair and undo questions are answered Yes and every other
// question No, told apart by which question it is: a lock conflict stays No even when
// its text reads like the repair's question.
TEST(CliDialogs, AnswersByWhichQuestionNeverByItsText) {
  using kv::ui::Question;
  const struct {
    Question question;
    const char* title;
    bool yes;
  } rows[] = {
      {Question::kTechnicalSupport, "Caution!", true}, {Question::kFix, "Confirm", true},
      {Question::kUndo, "Confirm", true},              {Question::kLockConflict, "Confirm", false},
      {Question::kCreateDirectory, "Confirm", false},  {Question::kDefineCompany, "Confirm", false},
      {Question::kDeleteCompany, "Confirm", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.question));
    std::ostringstream out, err;
    std::istringstream in;
    kv::cli::CliDialogs dialogs({.yes = true}, out, err, in);
    EXPECT_EQ(dialogs.AskForYesNo(row.question, kv::app::FixQuestionText()), row.yes);
    EXPECT_EQ(out.str(), std::string(row.title) + ": ต้องการแก้ไขข้อผิดพลาด 207?\n");
    EXPECT_EQ(err.str(), row.yes ? "-> Yes\n" : "-> No\n");
  }
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("KV_BUILD_DIR");
    if (build == nullptr) GTEST_SKIP() << "KV_BUILD_DIR not set (run through ctest)";
    binary_ = std::string(build) + "/src/kvfix207-cli";
    if (!fs::exists(binary_)) FAIL() << "kvfix207-cli of this build is missing: " << binary_;
    dir_ = kv::test::MakeTempDir("kvcli");
    ASSERT_FALSE(dir_.empty());
    fs::create_directories(dir_ + "/start");
    fs::create_directories(dir_ + "/appdata");
    fs::create_directories(dir_ + "/temp");
  }
  void TearDown() override {
    kv::test::RemoveTempDir(dir_);
  }

  Result Cli(const std::string& args, const std::string& input = "/dev/null") {
    const std::string out = dir_ + "/out.txt";
    const std::string err = dir_ + "/err.txt";
    const std::string cmd = "cd '" + dir_ + "/start' && APPDATA='" + dir_ + "/appdata' TEMP='" + dir_ + "/temp' '" +
                            binary_ + "' " + args + " >'" + out + "' 2>'" + err + "' <" + input;
    Result r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
  }

  // Cli, with a termination request (SIGTERM, as a closed session or `kill` sends) after
  // `seconds`; `took` is how long the program ran.
  Result CliStopped(const std::string& args, int seconds, double& took) {
    const std::string out = dir_ + "/out.txt", err = dir_ + "/err.txt", status = dir_ + "/status.txt";
    const std::string cmd = "cd '" + dir_ + "/start' && { APPDATA='" + dir_ + "/appdata' TEMP='" + dir_ + "/temp' '" +
                            binary_ + "' " + args + " >'" + out + "' 2>'" + err + "' </dev/null & pid=$!; sleep " +
                            std::to_string(seconds) + "; kill -TERM $pid; wait $pid; echo $? >'" + status + "'; }";
    const auto t0 = std::chrono::steady_clock::now();
    (void)std::system(cmd.c_str());
    took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    Result r;
    r.status = std::atoi(ReadFile(status).c_str());
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
  }

  std::string Company() const { return dir_ + "/company"; }

  // A demo company with damage, the scan's lines for it, and the file and record of the
  // first of them (for a station to hold).
  void DamagedDemo(std::vector<std::string>& findings, std::string& file, std::string& record) {
    Result r = Cli("make-demo --records 20 --seed 5 '" + Company() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    r = Cli("scan '" + Company() + "'");
    ASSERT_EQ(r.status, 3) << r.err;
    findings = Lines(r.out);
    ASSERT_FALSE(findings.empty());
    const std::string& first = findings[0];
    file = first.substr(0, first.find('\t'));
    record = first.substr(file.size() + 1, first.find('\t', file.size() + 1) - file.size() - 1);
  }

  // Every file of the company with its bytes and modification time.
  std::map<std::string, std::pair<std::string, fs::file_time_type>> Snapshot() const {
    std::map<std::string, std::pair<std::string, fs::file_time_type>> out;
    for (const auto& e : fs::directory_iterator(Company())) {
      out[e.path().filename().string()] = {ReadFile(e.path()), fs::last_write_time(e.path())};
    }
    return out;
  }

  std::string binary_;
  std::string dir_;
};

TEST_F(CliTest, UsageErrorsExitWithTwoAndPrintNothingOnStdout) {
  for (const char* args : {"", "frobnicate", "repair", "repair --bogus x", "repair a b", "scan", "scan a b",
                           "make-demo", "make-demo --records abc x", "make-demo --records 0 x", "repair --held-wait x",
                           "repair --held-wait 3601 x", "repair x --held-wait",
                           "undo", "undo a b", "undo --bogus x", "undo --held-wait x", "scan --held-wait x",
                           "scan --held-wait 3601 x", "scan x --held-wait", "scan --bogus x", "check", "check a b",
                           "check --bogus x"}) {
    SCOPED_TRACE(args);
    const Result r = Cli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage"), std::string::npos);
  }
}

TEST_F(CliTest, VersionNamesTheBuildsVersion) {
  const Result r = Cli("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "kvfix207-cli " + std::string(kv::app::VersionText()) + "\n");
  EXPECT_EQ(std::string(kv::app::VersionText()).rfind(std::string(kv::app::VersionNumber()), 0), 0u);
}

// What the guides and the manual page say of the command line is what --help says:
// each of its command lines appears in each of them as it is, they show no command the
// program lacks, and they list exactly its exit statuses. A new command or status in
// the program fails here until the guides tell of it.
TEST_F(CliTest, GuidesAndManualPageShowTheCommandsAndExitStatusesOfHelp) {
  const Result help = Cli("--help");
  ASSERT_EQ(help.status, 0);
  const std::string prefix = "kvfix207-cli ";
  auto commandOf = [&](const std::string& line) { return line.substr(prefix.size(), line.find(' ', prefix.size()) - prefix.size()); };
  auto trimmed = [](const std::string& line) { return line.substr(std::min(line.find_first_not_of(' '), line.size())); };
  // A command line too long for one line goes on in the next, indented, from an option.
  auto joined = [&](const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
      if (!out.empty() && trimmed(out.back()).rfind(prefix, 0) == 0 && line.rfind("  ", 0) == 0 &&
          trimmed(line).rfind("[", 0) == 0) {
        out.back() += " " + trimmed(line);
      } else {
        out.push_back(line);
      }
    }
    return out;
  };
  std::vector<std::string> usage;
  std::set<std::string> commands, statuses;
  bool inStatus = false;
  for (const std::string& line : joined(Lines(help.out))) {
    if (line.rfind("  " + prefix, 0) == 0) {
      usage.push_back(trimmed(line));
      commands.insert(commandOf(trimmed(line)));
    }
    if (line == "exit status:") inStatus = true;
    if (inStatus && line.size() > 5 && line.rfind("  ", 0) == 0 && std::isdigit(static_cast<unsigned char>(line[2])) &&
        line.substr(3, 2) == "  ")
      statuses.insert(line.substr(2, 1));
  }
  ASSERT_GE(usage.size(), 4u) << help.out;
  ASSERT_GE(statuses.size(), 3u) << help.out;

  for (const char* name : {"guide-en.txt", "guide-th.txt", "kvfix207-cli.1"}) {
    SCOPED_TRACE(name);
    std::string text = ReadFile(fs::path(KV_DOCS_DIR) / name);
    ASSERT_FALSE(text.empty());
    const bool man = std::string(name).ends_with(".1");
    for (size_t at = 0; man && (at = text.find("\\-", at)) != std::string::npos;) text.replace(at, 2, "-");
    std::set<std::string> shown, listed;
    bool inManStatus = false, inManLines = false;  // the manual page's commands stand in .nf blocks
    for (const std::string& line : joined(Lines(text))) {
      const std::string t = trimmed(line);
      if (man && (line == ".nf" || line == ".fi")) inManLines = line == ".nf";
      if (t.rfind(prefix, 0) == 0 && (!man || inManLines)) shown.insert(t);
      if (man) {
        if (line.rfind(".SH", 0) == 0) inManStatus = line == ".SH EXIT STATUS";
        if (inManStatus && line.size() == 4 && line.rfind(".B ", 0) == 0) listed.insert(line.substr(3));
      } else if (line.size() > 5 && line.rfind("  ", 0) == 0 && std::isdigit(static_cast<unsigned char>(line[2])) &&
                 line.substr(3, 2) == "  ") {
        listed.insert(line.substr(2, 1));
      }
    }
    for (const std::string& u : usage) EXPECT_EQ(shown.count(u), 1u) << "missing: " << u;
    for (const std::string& s : shown) EXPECT_EQ(commands.count(commandOf(s)), 1u) << "no such command: " << s;
    EXPECT_EQ(listed, statuses);
  }
}

TEST_F(CliTest, RepairWithoutInformationFilesEndsEarly) {
  fs::create_directories(Company());
  const Result r = Cli("repair --yes '" + Company() + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.out), std::vector<std::string>{"Error: ERROR: File not found.!"});
}

TEST_F(CliTest, ScanOfAMissingDirectoryIsAnError) {
  const Result r = Cli("scan '" + dir_ + "/nowhere'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

// The check: a sound demo company exits 0 and lists nothing, writing nothing; a damaged
// file exits 3 with its line, or with --json its object and the summary (the text then on
// standard error); a missing directory exits 1.
TEST_F(CliTest, CheckExitsByWhatItFindsAndWritesJsonLines) {
  Result r = Cli("make-demo --records 40 --seed 7 '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto sound = Snapshot();
  r = Cli("check '" + Company() + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Snapshot(), sound) << "the check wrote something";
  {
    std::fstream f(Company() + "/GLFILE05.DAT", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(20);
    f.put('\1');
  }
  const std::string line = "GLFILE05.DAT\tDATA-HEADER\theader\tthe defect flag is 1: every open fails with error 10010";
  r = Cli("check '" + Company() + "'");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(Lines(r.out), std::vector<std::string>{line});
  r = Cli("check --json '" + Company() + "'");
  EXPECT_EQ(r.status, 3) << r.err;
  const std::vector<std::string> json = Lines(r.out);
  ASSERT_EQ(json.size(), 2u) << r.out;
  EXPECT_EQ(json[0],
            "{\"type\":\"finding\",\"file\":\"GLFILE05.DAT\",\"kind\":\"DATA-HEADER\",\"place\":\"header\","
            "\"text\":\"the defect flag is 1: every open fails with error 10010\",\"damage\":true}");
  EXPECT_EQ(json[1].rfind("{\"type\":\"summary\",\"files\":46,", 0), 0u) << json[1];
  EXPECT_NE(json[1].find("\"damage\":1,\"notes\":0,\"busy_files\":0,\"exit\":3}"), std::string::npos) << json[1];
  EXPECT_NE(r.err.find(line + "\n"), std::string::npos) << r.err;
  EXPECT_EQ(Cli("check '" + dir_ + "/nowhere'").status, 1);
}

// --all: the companies of the start directory's USERDRV.INI in list order, each line
// headed by the company, a table row each, the worst status (a missing company's 1).
TEST_F(CliTest, CheckAllGoesThroughTheCompanyList) {
  const std::string good = dir_ + "/good";
  const std::string bad = dir_ + "/bad";
  ASSERT_EQ(Cli("make-demo --records 40 '" + good + "'").status, 0);
  ASSERT_EQ(Cli("make-demo --records 40 '" + bad + "'").status, 0);
  {
    std::fstream f(bad + "/GLFILE05.DAT", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(20);
    f.put('\1');
  }
  std::ofstream(dir_ + "/start/USERDRV.INI")
      << "Good;" << good << "\r\n\r\nBad;" << bad << "|/templates\r\nGone;" << dir_ << "/gone\r\n";
  Result r = Cli("check --all");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(Lines(r.out), std::vector<std::string>{bad + "\tGLFILE05.DAT\tDATA-HEADER\theader\tthe defect flag is 1: "
                                                          "every open fails with error 10010"});
  const std::string table = r.err.substr(r.err.find("company\tfiles"));
  EXPECT_EQ(Lines(table), (std::vector<std::string>{"company\tfiles\tlive records\tdamage\tnotes\tbusy files\texit",
                                                    good + "\t46\t1209\t0\t0\t0\t0", bad + "\t46\t1209\t1\t0\t0\t3",
                                                    dir_ + "/gone\t0\t0\t0\t0\t0\t1"}));
  std::remove((dir_ + "/start/USERDRV.INI").c_str());
  r = Cli("check --all");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Cli("check --all '" + good + "'").status, 2);
}

// JSON Lines parsed back: every line one object.
std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> out;
  for (const std::string& line : Lines(text)) {
    out.push_back(nlohmann::json::parse(line, nullptr, false));
    EXPECT_TRUE(out.back().is_object()) << line;
  }
  return out;
}

// scan --all and repair --all over a sound company, a damaged one (a Thai name with a
// space) and a missing one: every line headed by its company, a table row each, the
// worst status; repair --all asks once (No without a terminal: nothing changes), with
// --yes repairs the list; --json carries the company in each object and a summary per
// company.
TEST_F(CliTest, ScanAndRepairAllGoThroughTheCompanyList) {
  const std::string sound = dir_ + "/sound";
  const std::string damaged = dir_ + "/บริษัท หนึ่ง";
  const std::string gone = dir_ + "/gone";
  ASSERT_EQ(Cli("make-demo --records 20 '" + sound + "'").status, 0);
  ASSERT_EQ(Cli("repair --yes '" + sound + "'").status, 0);
  ASSERT_EQ(Cli("make-demo --records 20 --seed 5 '" + damaged + "'").status, 0);
  std::ofstream(dir_ + "/start/USERDRV.INI", std::ios::binary)
      << kv::platform::Utf8ToCp874("Sound;" + sound + "\r\nOne;" + damaged + "\r\nGone;" + gone + "\r\n");
  const std::vector<std::string> order = {sound, damaged, gone};
  auto statuses = [](const std::string& err) {  // the table's last column, per company
    std::vector<std::string> out;
    const std::vector<std::string> lines = Lines(err.substr(std::min(err.find("company\t"), err.size())));
    for (size_t i = 1; i < lines.size(); ++i) out.push_back(lines[i].substr(lines[i].rfind('\t') + 1));
    return out;
  };
  const Result scan = Cli("scan '" + damaged + "'");
  ASSERT_EQ(scan.status, 3);
  std::vector<std::string> headed;  // the scan's lines under --all
  for (const std::string& line : Lines(scan.out)) headed.push_back(damaged + "\t" + line);
  const struct {
    const char* args;
    int status;
    std::vector<std::string> each;  // per company
    std::vector<std::string> heads;  // the companies whose lines stdout holds, in order
  } rows[] = {
      {"scan --all", 1, {"0", "3", "1"}, {damaged}},
      {"repair --all", 1, {}, {}},  // asked once, No: nothing runs
      {"repair --all --yes", 1, {"0", "0", "1"}, {sound, damaged, gone}},
      {"scan --all", 1, {"0", "0", "1"}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    const Result r = Cli(row.args);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(statuses(r.err), row.each) << r.err;
    std::vector<std::string> heads;
    for (const std::string& line : Lines(r.out)) {
      const std::string head = line.substr(0, line.find('\t'));
      if (heads.empty() || heads.back() != head) heads.push_back(head);
    }
    EXPECT_EQ(heads, row.heads) << r.out;
    if (row.args == std::string("scan --all") && !row.heads.empty()) {
      EXPECT_EQ(Lines(r.out), headed);
    }
    if (row.args == std::string("repair --all")) {
      size_t asked = 0;
      for (size_t at = 0; (at = r.err.find("-> No", at)) != std::string::npos; ++at) ++asked;
      EXPECT_EQ(asked, 1u) << r.err;
    }
  }
  // Made damaged again, the JSON form: the same lines as objects, each naming its company.
  fs::remove_all(damaged);
  ASSERT_EQ(Cli("make-demo --records 20 --seed 5 '" + damaged + "'").status, 0);
  for (const char* args : {"scan --all --json", "repair --all --yes --json"}) {
    SCOPED_TRACE(args);
    const Result r = Cli(args);
    EXPECT_EQ(r.status, 1) << r.err;
    std::vector<std::string> summaries;
    size_t fields = 0;
    for (const nlohmann::json& j : JsonLines(r.out)) {
      if (j["type"] == "summary") {
        summaries.push_back(j["company"]);
        EXPECT_EQ(j["exit"], j["company"] == sound ? 0 : j["company"] == gone ? 1 : std::string(args)[0] == 's' ? 3 : 0) << j;
      } else {
        EXPECT_EQ(j["company"], damaged) << j;
        EXPECT_EQ(j["type"], std::string(args)[0] == 's' ? "finding" : "field") << j;
        EXPECT_EQ(j["bytes"].get<std::string>().size(), 20u) << j;
        ++fields;
      }
    }
    EXPECT_EQ(summaries, order);
    EXPECT_EQ(fields, Lines(scan.out).size());
  }
}

// With only PO's information file the repair skips the other modules: the scan lists
// nothing of theirs, exits 0 (PO's own files are gone, so nothing to reset) and names
// on stderr the damage the repair would leave, with the reason.
TEST_F(CliTest, ScanExitsZeroAndNamesWhatTheRepairWouldSkip) {
  Result r = Cli("make-demo --records 40 --seed 7 '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"GLINFO.DAT", "ICINFO.DAT", "APINFO.DAT", "ARINFO.DAT", "BIINFO.DAT", "POFILE01.DAT", "POFILE02.DAT"}) {
    fs::remove(Company() + "/" + name);
  }
  r = Cli("scan '" + Company() + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("\nGLFILE01.DAT: 1 damaged field not repaired: GLINFO.DAT is missing, the repair skips the GL module"),
            std::string::npos)
      << r.err;
}

// Progress goes to stderr. Off a terminal (a log, a pipe): a line per walked file, in
// walk order, with the count so far, and no carriage returns. On a terminal (the
// program run under script(1)): no per-file lines but one line repainted in place with
// module, file and percentage, cleared before the result message so that the message
// starts a line of its own.
TEST_F(CliTest, ProgressIsALinePerFileOffATerminalAndOneRepaintedLineOnIt) {
  Result r = Cli("make-demo --records 40 --seed 7 '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string pristine = dir_ + "/pristine";
  fs::copy(Company(), pristine);
  r = Cli("repair --yes '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  std::vector<std::string> steps;
  for (const std::string& line : Lines(r.err))
    if (line.rfind("[", 0) == 0) steps.push_back(line.substr(0, line.find(" (")));
  const std::vector<std::string> walkOrder = {
      "[1/19] GL GLFILE01",  "[2/19] GL GLFILE03",  "[3/19] GL GLFILE04",  "[4/19] IC ICFILE01",  "[5/19] IC ICFILE02",
      "[6/19] IC ICFILE04",  "[7/19] IC ICFILE05",  "[8/19] AP APFILE01",  "[9/19] AP APFILE02",  "[10/19] AP APFILE03",
      "[11/19] AP APFILE04", "[12/19] AR ARFILE01", "[13/19] AR ARFILE02", "[14/19] AR ARFILE03", "[15/19] AR ARFILE04",
      "[16/19] BI BIFILE01", "[17/19] BI BIFILE02", "[18/19] PO POFILE01", "[19/19] PO POFILE02"};
  EXPECT_EQ(steps, walkOrder) << r.err;

  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) to give the program a terminal";
  fs::remove_all(Company());
  fs::copy(pristine, Company());
  const std::string screen = dir_ + "/screen.txt";
  const std::string inner = "cd '" + dir_ + "/start' && APPDATA='" + dir_ + "/appdata' TEMP='" + dir_ + "/temp' '" +
                            binary_ + "' repair --yes '" + Company() + "'";
  const std::string cmd = "script -qec \"" + inner + "\" /dev/null >'" + screen + "' 2>&1 </dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << ReadFile(screen);
  const std::string shown = ReadFile(screen);
  EXPECT_EQ(shown.find("[1/19]"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\rGL GLFILE01  "), std::string::npos) << shown;
  EXPECT_NE(shown.find("\rPO POFILE02  100% of 40 records"), std::string::npos) << shown;
  const size_t result = shown.find("Information: ");
  ASSERT_NE(result, std::string::npos) << shown;
  EXPECT_EQ(shown[result - 1], '\r') << shown;  // after the line was blanked out
  EXPECT_NE(shown.find("\nrepaired records: "), std::string::npos) << shown;
}

// The whole road: a demo company, a scan that lists the planted fields and writes
// nothing, a repair that mends exactly those, and a second pass that finds nothing.
TEST_F(CliTest, RepairMendsExactlyWhatTheScanLists) {
  Result r = Cli("make-demo --records 40 --seed 7 '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.err;

  const auto before = Snapshot();
  r = Cli("scan '" + Company() + "'");
  ASSERT_EQ(r.status, 3) << r.err;
  const std::vector<std::string> findings = Lines(r.out);
  ASSERT_FALSE(findings.empty());
  std::set<std::string> records;
  for (const std::string& line : findings) {
    // FILE<TAB>RECORD<TAB>OFFSET<TAB>20 hex digits
    const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
    ASSERT_NE(t3, std::string::npos) << line;
    EXPECT_EQ(line.size() - t3 - 1, 20u) << line;
    records.insert(line.substr(0, t2));
  }
  EXPECT_FALSE(r.err.empty());  // the summary
  EXPECT_EQ(Snapshot(), before) << "the scan wrote something";

  // Without --yes and without a terminal the start-up question is answered No.
  r = Cli("repair '" + Company() + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.out), std::vector<std::string>{"Caution!: คุณต้องการแก้ไขข้อผิดพลาด 207?"});

  r = Cli("repair --yes '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> out = Lines(r.out);
  const std::vector<std::string> expected = {
      "Caution!: คุณต้องการแก้ไขข้อผิดพลาด 207?", "Confirm: ต้องการแก้ไขข้อผิดพลาด 207?",
      "Information: การทำงานเสร็จเรียบร้อยแล้ว (พบและแก้ไข " + std::to_string(records.size()) + " ข้อผิดพลาด"};
  EXPECT_EQ(out, expected);
  EXPECT_NE(r.err.find("[19/19]"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("[1/19]"), std::string::npos);

  // The report holds one line per reset field, the same as the scan listed.
  std::vector<std::string> reported;
  for (const auto& e : fs::directory_iterator(Company())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("KVFIX207-", 0) != 0) continue;
    for (const std::string& line : Lines(ReadFile(e.path()))) {
      if (std::count(line.begin(), line.end(), '\t') < 4 || line.rfind("FILE\t", 0) == 0) continue;
      size_t t = 0;
      for (int i = 0; i < 4; ++i) t = line.find('\t', t + 1);
      reported.push_back(line.substr(0, t));
    }
  }
  EXPECT_EQ(reported, findings);

  r = Cli("scan '" + Company() + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  r = Cli("repair --yes '" + Company() + "'");
  EXPECT_EQ(r.status, 0);
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Lines(r.out).back(), "Information: การทำงานเสร็จเรียบร้อยแล้ว (ไม่พบข้อผิดพลาด)");
}

// A station holds the lock of a damaged record through the whole repair: the run says
// what it waits for, ends within the time given, exits 4 with the warning, and the report
// names the record as LOCKED. Let go, the next repair mends it and exits 0.
TEST_F(CliTest, ARecordHeldThroughTheRunIsLeftAndExitsFour) {
  std::vector<std::string> findings;
  std::string file, record;
  ASSERT_NO_FATAL_FAILURE(DamagedDemo(findings, file, record));
  Result r;
  std::set<std::string> records;
  for (const std::string& line : findings) records.insert(line.substr(0, line.find('\t', file.size() + 1)));

  kv::isam::Engine station;
  station.StartEngine(kv::isam::EngineMode::kNetwork, 16);
  kv::isam::BlockHandle block = nullptr;
  station.OpenBlock(block, Company() + "/" + file, {.network = true});
  ASSERT_TRUE(station.LastOpOK()) << station.LastOpError();
  station.LockSlot(block, std::stoi(record));
  ASSERT_TRUE(station.LastOpOK());

  const auto t0 = std::chrono::steady_clock::now();
  r = Cli("repair --yes --held-wait 2 '" + Company() + "'");
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(r.status, 4) << r.out << r.err;
  EXPECT_LT(took, 15.0);
  const std::vector<std::string> out = Lines(r.out);
  ASSERT_EQ(out.size(), 4u) << r.out;
  EXPECT_EQ(out[2], "Warning: การทำงานเสร็จเรียบร้อยแล้ว (พบและแก้ไข " + std::to_string(records.size() - 1) + " ข้อผิดพลาด");
  EXPECT_EQ(out[3], "มี 1 รายการที่ยังแก้ไขไม่ได้ เนื่องจากมีผู้ใช้อื่นใช้งานอยู่หรืออ่านเขียนแฟ้มไม่ได้ โปรดเรียกใช้อีกครั้งภายหลัง");
  EXPECT_NE(r.err.find("waiting for " + file + " record " + record + ", held by another station"), std::string::npos) << r.err;
  int locked = 0;
  for (const auto& e : fs::directory_iterator(Company())) {
    if (e.path().filename().string().rfind("KVFIX207-", 0) != 0) continue;
    for (const std::string& line : Lines(ReadFile(e.path()))) {
      if (line.size() > 7 && line.compare(line.size() - 7, 7, "\tLOCKED") == 0) {
        EXPECT_EQ(line.rfind(file + "\t" + record + "\t", 0), 0u) << line;
        ++locked;
      }
    }
  }
  EXPECT_GE(locked, 1);

  station.CloseBlock(block);
  station.StopEngine();
  r = Cli("repair --yes '" + Company() + "'");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Lines(r.out).back(), "Information: การทำงานเสร็จเรียบร้อยแล้ว (พบและแก้ไข 1 ข้อผิดพลาด");
  EXPECT_EQ(Cli("scan '" + Company() + "'").status, 0);
}

// Where locks are mandatory (the program runs under the platform's Windows rule), what
// another station holds during a repair and an undo: a record it holds throughout is
// left as LOCKED (exit 4) within the held wait, damaged or not, since it cannot even be
// read; an open lock or a write lock that is let go is waited for, and the run completes.
TEST_F(CliTest, UnderMandatoryLocksWhatAStationHoldsIsWaitedForOrLeft) {
  enum class Hold { kDamagedRecord, kSoundRecord, kOpenLock, kWriteLock };
  const struct Row {
    const char* what;
    Hold hold;
    int releaseMs;  // < 0: held through the run
    int status;
  } rows[] = {
      {"a damaged record", Hold::kDamagedRecord, -1, 4},
      {"a sound record", Hold::kSoundRecord, -1, 4},
      {"the open lock for a second", Hold::kOpenLock, 1000, 0},
      {"the write lock for two seconds", Hold::kWriteLock, 2000, 0},
  };
  const char* old = std::getenv("KVFIX_WINDOWS_LOCKS");
  const std::string was = old != nullptr ? old : "";
  kv::test::SetEnvVar("KVFIX_WINDOWS_LOCKS", "1");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(Company());
    Result r = Cli("make-demo --records 20 --seed 5 '" + Company() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    r = Cli("scan '" + Company() + "'");
    ASSERT_EQ(r.status, 3) << r.err;
    const std::vector<std::string> findings = Lines(r.out);
    const std::string file = findings.at(0).substr(0, findings[0].find('\t'));
    std::set<int> damaged;
    for (const std::string& line : findings) {
      if (line.rfind(file + "\t", 0) == 0) damaged.insert(std::stoi(line.substr(file.size() + 1)));
    }
    int record = *damaged.begin();
    if (row.hold == Hold::kSoundRecord) {
      for (record = 1; damaged.count(record) != 0;) ++record;
    }

    kv::isam::Engine station;
    station.StartEngine(kv::isam::EngineMode::kNetwork, 16);
    kv::isam::BlockHandle block = nullptr;
    station.OpenBlock(block, Company() + "/" + file, {.network = true});
    ASSERT_TRUE(station.LastOpOK()) << station.LastOpError();
    kv::platform::File coord;
    switch (row.hold) {
      case Hold::kDamagedRecord:
      case Hold::kSoundRecord:
        station.LockSlot(block, record);
        break;
      case Hold::kOpenLock:
        ASSERT_EQ(kv::platform::File::Open(Company() + "/" + file + ".DIA", kv::platform::Access::kReadWrite,
                                           kv::platform::Share::kShared, coord),
                  kv::platform::OsError::kNone);
        ASSERT_EQ(coord.LockRange(3, 1), kv::platform::OsError::kNone);
        break;
      case Hold::kWriteLock:
        station.LockBlock(block);
        break;
    }
    ASSERT_TRUE(station.LastOpOK());
    std::thread release;
    if (row.releaseMs >= 0) {
      release = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(row.releaseMs));
        if (row.hold == Hold::kOpenLock) (void)coord.UnlockRange(3, 1);
        if (row.hold == Hold::kWriteLock) station.UnlockBlock(block);
      });
    }
    const auto t0 = std::chrono::steady_clock::now();
    r = Cli("repair --yes --held-wait 2 '" + Company() + "'");
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (release.joinable()) release.join();
    EXPECT_EQ(r.status, row.status) << r.out << r.err;
    EXPECT_LT(took, 12.0);
    std::string report;
    for (const auto& e : fs::directory_iterator(Company())) {
      if (e.path().filename().string().rfind("KVFIX207-", 0) == 0) report = ReadFile(e.path());
    }
    const std::string lockedLine = file + "\t" + std::to_string(record) + "\t";
    size_t locked = 0;
    for (const std::string& line : Lines(report)) {
      if (line.size() > 7 && line.compare(line.size() - 7, 7, "\tLOCKED") == 0) {
        EXPECT_EQ(line.rfind(lockedLine, 0), 0u) << line;
        ++locked;
      }
    }
    EXPECT_EQ(locked > 0, row.status == 4) << report;

    station.CloseBlock(block);
    station.StopEngine();
    if (row.status == 4) {
      r = Cli("repair --yes '" + Company() + "'");
      EXPECT_EQ(r.status, 0) << r.out << r.err;
    }
    EXPECT_EQ(Cli("scan '" + Company() + "'").status, 0);
  }
  kv::test::SetEnvVar("KVFIX_WINDOWS_LOCKS", old != nullptr ? was.c_str() : nullptr);
}

// Under Windows' rule another station's record lock makes the record unreadable: the
// scan reads around it, names it on stderr, says what it waits for, ends within the
// wait, and exits 3 when there is damage elsewhere, 4 when there is none; 0 once let go.
TEST_F(CliTest, AScanBesideAHeldRecordNamesItAndExitsFourWithoutDamage) {
  const char* old = std::getenv("KVFIX_WINDOWS_LOCKS");
  const std::string was = old != nullptr ? old : "";
  kv::test::SetEnvVar("KVFIX_WINDOWS_LOCKS", "1");  // for the programs started below
  std::vector<std::string> findings;
  std::string file, record;
  ASSERT_NO_FATAL_FAILURE(DamagedDemo(findings, file, record));
  Result r;
  std::vector<std::string> others;
  for (const std::string& line : findings)
    if (line.rfind(file + "\t" + record + "\t", 0) != 0) others.push_back(line);

  kv::isam::Engine station;
  station.StartEngine(kv::isam::EngineMode::kNetwork, 16);
  kv::isam::BlockHandle block = nullptr;
  station.OpenBlock(block, Company() + "/" + file, {.network = true});
  ASSERT_TRUE(station.LastOpOK()) << station.LastOpError();
  const std::string named = file + ".DAT: record " + record + " is held by another station, not judged";
  const std::string waiting = "waiting for " + file + " record " + record + ", held by another station (try 2 of 3)";
  struct Row {
    const char* what;
    bool repairFirst;  // mend the rest (with the record let go) before the scan
    bool hold;
    int heldWait;      // seconds
    int status;
  } rows[] = {
      {"damage elsewhere", false, true, 1, 3},
      {"no damage elsewhere", true, true, 2, 4},
      {"no wait", false, true, 0, 4},
      {"let go", false, false, 5, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.repairFirst) {
      ASSERT_EQ(Cli("repair --yes '" + Company() + "'").status, 0);
    }
    if (row.hold) {
      station.LockSlot(block, std::stoi(record));
      ASSERT_TRUE(station.LastOpOK());
    }
    const auto t0 = std::chrono::steady_clock::now();
    r = Cli("scan --held-wait " + std::to_string(row.heldWait) + " '" + Company() + "'");
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // The check beside the same station: the record named busy, never damage.
    const Result c = Cli("check --held-wait " + std::to_string(row.heldWait) + " '" + Company() + "'");
    if (row.hold) station.UnlockSlot(block, std::stoi(record));
    EXPECT_EQ(c.status, 0) << c.out << c.err;
    EXPECT_EQ(c.out, row.hold ? file + ".DAT\tBUSY\tslot " + record + "\tnote: record " + record +
                                    " is held by another station: read around, not judged\n"
                              : "");
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_LT(took, row.heldWait + 5.0);
    EXPECT_EQ(Lines(r.out), row.status == 3 ? others : std::vector<std::string>{});
    EXPECT_EQ(r.err.find(named) != std::string::npos, row.hold) << r.err;
    EXPECT_EQ(r.err.find(waiting) != std::string::npos, row.hold && row.heldWait > 0) << r.err;
  }
  station.CloseBlock(block);
  station.StopEngine();
  kv::test::SetEnvVar("KVFIX_WINDOWS_LOCKS", old != nullptr ? was.c_str() : nullptr);
}

// A stop in a wait: another station keeps a record the undo must put back, and the undo
// is asked to end. It says what it waits for and stops within a few seconds.
TEST_F(CliTest, AStopInAWaitEndsTheUndoAndSaysSo) {
  Result r = Cli("make-demo --records 20 --seed 5 '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Cli("scan '" + Company() + "'");
  ASSERT_EQ(r.status, 3) << r.err;
  const std::string first = Lines(r.out).at(0);
  const std::string file = first.substr(0, first.find('\t'));
  const int record = std::stoi(first.substr(file.size() + 1));

  kv::isam::Engine station;
  station.StartEngine(kv::isam::EngineMode::kNetwork, 16);
  kv::isam::BlockHandle block = nullptr;
  station.OpenBlock(block, Company() + "/" + file, {.network = true});
  ASSERT_TRUE(station.LastOpOK()) << station.LastOpError();

  // (The repair's waits for a lock are the access layer's, tested there.)
  double took = 0;
  // A repair, then its undo beside a record another station holds for longer than the stop.
  r = Cli("repair --yes '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::string report;
  for (const auto& e : fs::directory_iterator(Company())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("KVFIX207-", 0) == 0 && name > report) report = name;
  }
  station.LockSlot(block, record);
  ASSERT_TRUE(station.LastOpOK());
  r = CliStopped("undo --yes --held-wait 60 '" + Company() + "/" + report + "'", 3, took);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_LT(took, 3 + 4.0);
  EXPECT_NE(r.err.find("waiting for " + file + " record " + std::to_string(record)), std::string::npos) << r.err;
  EXPECT_NE(r.out.find(file + "\t" + std::to_string(record) + "\t"), std::string::npos) << r.out;
  station.CloseBlock(block);
  station.StopEngine();
}

// Repair and undo by the command line: the question (No without a terminal), a dry run
// that writes nothing, the undo that gives the walked files back byte for byte, a second
// undo of the same report that finds every field changed since (exit 4), and a report
// of other data refused (exit 1).
TEST_F(CliTest, UndoGivesBackWhatTheRepairChanged) {
  Result r = Cli("make-demo --records 40 --seed 9 '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  auto walked = [this] {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(Company())) {
      const std::string name = e.path().filename().string();
      const std::string ext = e.path().extension().string();
      if (name.find("FILE") != std::string::npos && (ext == ".DAT" || ext == ".IX")) out[name] = ReadFile(e.path());
    }
    return out;
  };
  const auto before = walked();
  r = Cli("repair --yes '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string report = r.err.substr(r.err.find("report: ") + 8, r.err.find(".LOG") + 4 - r.err.find("report: ") - 8);
  const auto repaired = walked();
  ASSERT_NE(repaired, before);
  auto reports = [this] {
    int n = 0;
    for (const auto& e : fs::directory_iterator(Company())) n += e.path().extension() == ".LOG";
    return n;
  };

  r = Cli("undo '" + report + "'");
  EXPECT_EQ(r.status, 1) << r.err;
  ASSERT_EQ(Lines(r.out).size(), 1u) << r.out;
  EXPECT_EQ(Lines(r.out)[0].rfind("Confirm: ต้องการนำค่าเดิมกลับคืน ", 0), 0u) << r.out;
  r = Cli("undo --dry-run '" + report + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> listed = Lines(r.out);
  ASSERT_FALSE(listed.empty());
  for (const std::string& line : listed) EXPECT_NE(line.find("\tPUT BACK"), std::string::npos) << line;
  // Data and index files untouched, no report (the files were opened as a station
  // opens them, so their coordination files saw a station come and go).
  EXPECT_EQ(walked(), repaired) << "asking and the dry run wrote something";
  EXPECT_EQ(reports(), 1);

  // --json: an object per field, the summary last; the text lines on standard error.
  r = Cli("undo --yes --json '" + report + "'");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(walked(), before);
  EXPECT_NE(r.err.find("undo report: " + Company() + "/KVFIX207-UNDO-"), std::string::npos) << r.err;
  const std::vector<nlohmann::json> objects = JsonLines(r.out);
  ASSERT_EQ(objects.size(), listed.size() + 1) << r.out;
  for (size_t i = 0; i < listed.size(); ++i) {
    const nlohmann::json& j = objects[i];
    EXPECT_EQ(j["type"], "field");
    EXPECT_EQ(listed[i], j["file"].get<std::string>() + "\t" + std::to_string(j["record"].get<int>()) + "\t" +
                             std::to_string(j["offset"].get<int>()) + "\t" + j["outcome"].get<std::string>());
    EXPECT_NE(r.err.find(listed[i] + "\n"), std::string::npos) << listed[i];
  }
  EXPECT_EQ(objects.back()["type"], "summary");
  EXPECT_EQ(objects.back()["put_back"], listed.size());
  EXPECT_EQ(objects.back()["exit"], 0);
  // A second undo: every field holds its original bytes already, which is done.
  r = Cli("undo --yes '" + report + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), listed.size() + 1);  // the question, then the lines
  EXPECT_NE(r.out.find("\tALREADY PUT BACK\n"), std::string::npos);
  EXPECT_EQ(r.out.find("\tCHANGED SINCE\n"), std::string::npos);
  EXPECT_EQ(walked(), before);

  const std::string text = ReadFile(report);
  const std::string first = text.substr(text.rfind("\nFILE\t", text.find("\tSLOT\t")) + 6, 8);
  fs::remove(Company() + "/" + first + ".IX");
  r = Cli("undo --yes '" + report + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("undo refused, nothing written: " + first + ".IX is missing"), std::string::npos) << r.err;
}

TEST_F(CliTest, LeftoverTemporaryFilesStopTheRunUnlessRestoreIsAsked) {
  Result r = Cli("make-demo --records 5 '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  fs::copy_file(Company() + "/GLFILE03.DAT", Company() + "/GLFILE03.SAV");
  const std::string saved = ReadFile(Company() + "/GLFILE03.SAV");

  r = Cli("repair --yes '" + Company() + "'");
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> out = Lines(r.out);
  ASSERT_EQ(out.size(), 3u) << r.out;
  EXPECT_EQ(out[2].rfind("Attention!: ", 0), 0u);
  EXPECT_NE(out[2].find("GLFILE03.SAV"), std::string::npos);
  EXPECT_NE(out[2].find(" byte(s)"), std::string::npos);
  EXPECT_TRUE(fs::exists(Company() + "/GLFILE03.SAV"));

  r = Cli("repair --yes --restore-temp '" + Company() + "'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(fs::exists(Company() + "/GLFILE03.SAV"));
}

TEST_F(CliTest, AFatalOpenErrorIsPrintedAndEndsTheRun) {
  Result r = Cli("make-demo --records 5 '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  {  // the defect flag: byte 20 of the header
    std::fstream f(Company() + "/GLFILE03.DAT", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(20);
    f.put(1);
  }
  const std::string before = ReadFile(Company() + "/GLFILE03.DAT");
  r = Cli("repair --yes '" + Company() + "'");
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> expected = {
      "Caution!: คุณต้องการแก้ไขข้อผิดพลาด 207?", "Confirm: ต้องการแก้ไขข้อผิดพลาด 207?",
      "Error: 10010: File defect, that can be corrected by reindexing", "Error: ไม่สามารถเปิดแฟ้มข้อมูล GLFILE03 ได้."};
  EXPECT_EQ(Lines(r.out), expected);
  EXPECT_EQ(ReadFile(Company() + "/GLFILE03.DAT"), before);
}

TEST_F(CliTest, AMissingCompanyDirectoryIsAnIoError) {
  const Result r = Cli("repair --yes '" + dir_ + "/nowhere'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.out), std::vector<std::string>{"Error: I/O error 3: " + dir_ + "/nowhere"});
}

// Company directories as users have them: long (around the 64-byte cut and far past
// it), Thai with spaces, relative to the start directory, and through a symbolic link.
// Every command works on exactly that directory: the scan finds the planted fields, the
// repair mends them and leaves one report inside, and nothing is written elsewhere.
TEST_F(CliTest, EveryCompanyPathWorksInEveryCommand) {
  auto padded = [&](const std::string& base, size_t length) {
    std::string p = base;
    while (p.size() < length) p += "/" + std::string(std::min<size_t>(200, length - p.size() - 1), 'x');
    return p.substr(0, length);
  };
  const std::string thai = dir_ + "/ข้อมูลบริษัท ตัวอย่าง จำกัด/สำนักงานใหญ่ สาขาที่ 1 (บัญชีปี 2569)/company data";
  fs::create_directories(dir_ + "/real");
  fs::create_symlink(dir_ + "/real", dir_ + "/link to data");
  struct Row {
    std::string arg;   // as typed
    std::string real;  // where the files must be
  };
  const std::vector<Row> rows = {
      {padded(dir_ + "/a", 60), padded(dir_ + "/a", 60)},       {padded(dir_ + "/b", 64), padded(dir_ + "/b", 64)},
      {padded(dir_ + "/c", 65), padded(dir_ + "/c", 65)},       {padded(dir_ + "/d", 255), padded(dir_ + "/d", 255)},
      {padded(dir_ + "/e", 1100), padded(dir_ + "/e", 1100)},   {thai, thai},
      {"../relative company", dir_ + "/relative company"},      {dir_ + "/link to data/กิจการ", dir_ + "/real/กิจการ"},
  };
  auto outside = [&](const std::string& real) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir_)) {
      const std::string p = e.path().string();
      if (!e.is_regular_file() || p.rfind(real + "/", 0) == 0 || p == dir_ + "/out.txt" || p == dir_ + "/err.txt") continue;
      files[p] = ReadFile(e.path());
    }
    return files;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.arg.size()) + " bytes: " + row.arg);
    const std::string q = "'" + row.arg + "'";
    Result r = Cli("make-demo --records 8 " + q);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(fs::exists(row.real + "/GLFILE01.DAT"));
    const auto before = outside(row.real);
    r = Cli("scan " + q);
    EXPECT_EQ(r.status, 3) << r.err;
    const size_t findings = Lines(r.out).size();
    r = Cli("repair --yes " + q);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Cli("scan " + q).status, 0);
    std::vector<std::string> reports;
    for (const auto& e : fs::directory_iterator(row.real))
      if (e.path().filename().string().rfind("KVFIX207-", 0) == 0) reports.push_back(e.path().string());
    ASSERT_EQ(reports.size(), 1u);
    const std::vector<std::string> lines = Lines(ReadFile(reports[0]));
    // File, fingerprint, checksum and closing lines apart, one line per field.
    const auto fileLines = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
      return l.find("\tSLOT\t") != std::string::npos || l.find("\tCRC32C\t") != std::string::npos ||
             l.rfind("SUM\t", 0) == 0 || l.rfind("END\t", 0) == 0;
    });
    EXPECT_EQ(lines.size() - static_cast<size_t>(fileLines), findings + 2);
    EXPECT_NE(r.err.find("report: " + (row.arg[0] == '/' ? row.arg : dir_ + "/start/" + row.arg) + "/KVFIX207-"), std::string::npos) << r.err;
    // The undo finds the report's files beside it and puts every field back.
    r = Cli("undo --yes '" + reports[0] + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Cli("scan " + q).status, 3);
    EXPECT_EQ(outside(row.real), before);
  }

  // A path the suite cannot store is refused by every command, and nothing is made.
  for (const char* command : {"make-demo", "scan", "repair --yes"}) {
    const Result r = Cli(std::string(command) + " '" + dir_ + "/café'");
    EXPECT_EQ(r.status, 2) << command;
    EXPECT_NE(r.err.find("code page 874"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir_ + "/café"));
}

// KORVA.INI in the start directory is read before the run (after KORVA.CFG, without
// which neither is read).
TEST_F(CliTest, SettingsOfTheStartDirectoryTakeEffect) {
  Result r = Cli("make-demo --records 5 '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  fs::create_directories(dir_ + "/appdata/Velmora");
  std::ofstream(dir_ + "/appdata/Velmora/KORVA.CFG") << "OPENCOMPANY_SELECT=0\r\n";
  std::ofstream(dir_ + "/start/KORVA.INI") << "invoiceoldform = true\r\n";
  r = Cli("repair --yes '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string info = ReadFile(Company() + "/BIINFO.DAT");
  ASSERT_GE(info.size(), 319u);
  EXPECT_EQ(info[318], 1);
}

}  // namespace

// Issue 22: nothing lost however a run ends, nothing taken for missing that is not,
// an undo that takes back only its own repair, and no command that overwrites unasked.
TEST_F(CliTest, NothingIsOverwrittenOrTakenForMissingAndAnUndoTakesBackOnlyItsOwn) {
  Result r = Cli("make-demo --records 8 '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  {  // make-demo over a company: refused, nothing written
    const auto before = Snapshot();
    r = Cli("make-demo --records 8 --seed 5 '" + Company() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("make-demo refused, nothing written"), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(), before);
  }
  // A second company, repaired, whose report is copied into the first.
  const std::string other = dir_ + "/other";
  ASSERT_EQ(Cli("make-demo --records 8 --seed 9 '" + other + "'").status, 0);
  ASSERT_EQ(Cli("repair --yes '" + other + "'").status, 0);
  std::string otherReport;
  for (const auto& e : fs::directory_iterator(other))
    if (e.path().filename().string().rfind("KVFIX207-2", 0) == 0) otherReport = e.path().string();
  ASSERT_FALSE(otherReport.empty());
  fs::copy_file(otherReport, Company() + "/" + fs::path(otherReport).filename().string());
  {
    const auto before = Snapshot();
    r = Cli("undo --yes '" + Company() + "/" + fs::path(otherReport).filename().string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("undo refused, nothing written: the report is of the company in " + other), std::string::npos)
        << r.err;
    EXPECT_EQ(Snapshot(), before);
    fs::remove(Company() + "/" + fs::path(otherReport).filename().string());
  }
  // An edited report (one record number changed): refused; forced, the edited record's
  // field is CHANGED SINCE (no fingerprint of it), never written.
  {
    std::string text = ReadFile(otherReport);
    const size_t line = text.find("\r\nGLFILE03\t");
    ASSERT_NE(line, std::string::npos) << text;
    const size_t number = line + 11;
    text[number] = text[number] == '1' ? '2' : '1';
    std::ofstream(otherReport, std::ios::binary | std::ios::trunc) << text;
    r = Cli("undo --yes '" + otherReport + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("its checksum lines do not match"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--accept-edited"), std::string::npos) << r.err;
    r = Cli("undo --yes --accept-edited '" + otherReport + "'");
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.out.find("GLFILE03\t"), std::string::npos);
    EXPECT_NE(r.out.find("\tCHANGED SINCE\n"), std::string::npos) << r.out;
  }

  // In a data file's place: a link to nothing, a directory. Nothing is created, the
  // index stays as it was, and the message names the file and what is there.
  const std::string data = Company() + "/GLFILE02.DAT";
  const std::string index = ReadFile(Company() + "/GLFILE02.IX");
  fs::rename(data, dir_ + "/GLFILE02.DAT.away");
  struct Row {
    const char* what;
    std::function<void()> make;
    const char* says;
  } rows[] = {
      {"a dangling link", [&] { fs::create_symlink(dir_ + "/share-not-mounted/GLFILE02.DAT", data); }, "a link whose target is not there"},
      {"a directory", [&] { fs::create_directory(data); }, "a directory, not a file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    row.make();
    r = Cli("repair --yes '" + Company() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(std::string("GLFILE02.DAT: ") + row.says), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(Company() + "/GLFILE02.IX"), index);
    EXPECT_TRUE(fs::is_symlink(data) || fs::is_directory(data));
    fs::remove(data);
  }
  auto dropReports = [&] {
    std::vector<fs::path> logs;
    for (const auto& e : fs::directory_iterator(Company()))
      if (e.path().extension() == ".LOG") logs.push_back(e.path());
    for (const fs::path& p : logs) fs::remove(p);
  };
  // Really missing: a new pair is made, the old index kept beside and named.
  dropReports();
  r = Cli("repair --yes '" + Company() + "'");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(Company() + "/GLFILE02.IX.KEPT"), index);
  std::string report;
  for (const auto& e : fs::directory_iterator(Company()))
    if (e.path().filename().string().rfind("KVFIX207-2", 0) == 0) report = e.path().string();
  const std::string text = ReadFile(report);
  EXPECT_NE(text.find("KEPT\tGLFILE02.IX\tGLFILE02.IX.KEPT\t"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nEND\tCOMPLETED\r\n"), std::string::npos) << text;

  // A leftover .SAV restored: the .DAT it replaces is kept beside and both are named.
  dropReports();
  const std::string dat = ReadFile(Company() + "/GLFILE03.DAT");
  fs::copy_file(Company() + "/GLFILE03.DAT", Company() + "/GLFILE03.SAV");
  r = Cli("repair --yes '" + Company() + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--restore-temp"), std::string::npos) << r.err;
  dropReports();
  r = Cli("repair --yes --restore-temp '" + Company() + "'");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(Company() + "/GLFILE03.DAT.KEPT"), dat);
  EXPECT_FALSE(fs::exists(Company() + "/GLFILE03.SAV"));
  for (const auto& e : fs::directory_iterator(Company()))
    if (e.path().filename().string().rfind("KVFIX207-2", 0) == 0) report = e.path().string();
  EXPECT_NE(ReadFile(report).find("KEPT\tGLFILE03.DAT\tGLFILE03.DAT.KEPT\tREPLACED BY GLFILE03.SAV"), std::string::npos);

  // A directory that is no company, and an empty path: exit 1 with the reason.
  fs::create_directories(dir_ + "/empty");
  r = Cli("scan '" + dir_ + "/empty'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no company here"), std::string::npos) << r.err;
  EXPECT_EQ(Cli("scan ''").status, 1);
}

// A closed terminal stops a run like SIGTERM, and a closed output does not end it: the
// run completes and its result is in the report.
TEST_F(CliTest, AClosedOutputDoesNotEndTheRun) {
  ASSERT_EQ(Cli("make-demo --records 8 '" + Company() + "'").status, 0);
  const std::string cmd = "cd '" + dir_ + "/start' && APPDATA='" + dir_ + "/appdata' TEMP='" + dir_ + "/temp' '" +
                          binary_ + "' repair --yes '" + Company() + "' 2>/dev/null </dev/null | true";
  ASSERT_EQ(std::system(("bash -c \"set -o pipefail; " + cmd + "\"").c_str()) == -1, false);
  std::string report;
  for (const auto& e : fs::directory_iterator(Company()))
    if (e.path().filename().string().rfind("KVFIX207-2", 0) == 0) report = e.path().string();
  ASSERT_FALSE(report.empty());
  EXPECT_NE(ReadFile(report).find("\r\nEND\tCOMPLETED\r\n"), std::string::npos);
  EXPECT_EQ(Cli("scan '" + Company() + "'").status, 0);
}

// Files the program creates in a shared company (run by root) take the owner, group
// and mode of the company's files, so that the suite's users can still open them.
TEST_F(CliTest, NewFilesTakeTheOwnerAndModeOfTheCompanysFiles) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  ASSERT_EQ(Cli("make-demo --records 5 '" + Company() + "'").status, 0);
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(Company())) files.push_back(e.path());
  for (const fs::path& p : files) {
    const std::string ext = p.extension().string();
    if (ext == ".DIA") {
      fs::remove(p);
      continue;
    }
    ASSERT_EQ(::chown(p.c_str(), 1234, 2345), 0);
    ASSERT_EQ(::chmod(p.c_str(), 0664), 0);
  }
  fs::remove(Company() + "/GLFILE02.DAT");
  fs::remove(Company() + "/GLFILE02.IX");
  const Result r = Cli("repair --yes '" + Company() + "'");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  int checked = 0;
  for (const auto& e : fs::directory_iterator(Company())) {
    const std::string ext = e.path().extension().string();
    if (ext != ".DIA" && ext != ".LOG" && e.path().filename() != "GLFILE02.DAT" && e.path().filename() != "GLFILE02.IX")
      continue;
    struct stat st {};
    ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u) << e.path();
    EXPECT_EQ(st.st_gid, 2345u) << e.path();
    EXPECT_EQ(st.st_mode & 0777, 0664u) << e.path();
    ++checked;
  }
  EXPECT_GT(checked, 3);
}

// A damaged header (a file cut mid-slot, a negative record count): the repair agrees with
// the scan, warns that a file is damaged (not "another user") and exits 4.
TEST_F(CliTest, ADamagedHeaderIsNamedAsDamageAndExitsFour) {
  struct Row {
    const char* what;
    std::function<void(const std::string&)> damage;
  } rows[] = {
      {"cut mid-slot", [](const std::string& f) { fs::resize_file(f, fs::file_size(f) - 100); }},
      {"negative count", [](const std::string& f) {
         std::fstream s(f, std::ios::in | std::ios::out | std::ios::binary);
         s.seekp(8);
         const char minusFive[4] = {'\xfb', '\xff', '\xff', '\xff'};
         s.write(minusFive, 4);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(Company());
    ASSERT_EQ(Cli("make-demo --records 8 '" + Company() + "'").status, 0);
    row.damage(Company() + "/GLFILE03.DAT");
    const Result r = Cli("repair --yes '" + Company() + "'");
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_NE(r.out.find("แฟ้มมีส่วนหัวเสียหาย"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("เนื่องจากมีผู้ใช้อื่นใช้งานอยู่"), std::string::npos) << r.out;
  }
}
