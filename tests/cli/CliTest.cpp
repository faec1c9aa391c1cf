// kvfix207-cli as a program: exit codes, what goes to stdout and what to stderr, a
// repair of a demo company that mends exactly the planted fields, and a scan that
// lists exactly those and writes nothing.
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/Run.h"
#include "cli/CliDialogs.h"
#include "isam/Engine.h"
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
                           "scan --held-wait 3601 x", "scan x --held-wait", "scan --bogus x"}) {
    SCOPED_TRACE(args);
    const Result r = Cli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage"), std::string::npos);
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
  kv::isam::FileBlock* block = nullptr;
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
    kv::isam::FileBlock* block = nullptr;
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
  kv::isam::FileBlock* block = nullptr;
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
    if (row.hold) station.UnlockSlot(block, std::stoi(record));
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
  kv::isam::FileBlock* block = nullptr;
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

  r = Cli("undo --yes '" + report + "'");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(walked(), before);
  EXPECT_NE(r.err.find("undo report: " + Company() + "/KVFIX207-UNDO-"), std::string::npos) << r.err;
  r = Cli("undo --yes '" + report + "'");
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_EQ(Lines(r.out).size(), listed.size() + 1);  // the question, then the lines
  EXPECT_NE(r.out.find("\tCHANGED SINCE\n"), std::string::npos);

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
    const auto fileLines = std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("\tSLOT\t") != std::string::npos; });
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
