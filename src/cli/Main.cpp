// kvfix207-cli: the repair run without a window, the read-only scan, and the demo
// company.
//
//   kvfix207-cli repair [--yes] [--restore-temp] COMPANY_DIR
//   kvfix207-cli scan COMPANY_DIR
//   kvfix207-cli make-demo [--records N] [--seed S] COMPANY_DIR
//
// Standard output carries only what the desktop program would show (one line per
// dialog) and the scan's findings; progress and summaries go to standard error.
#include <charconv>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/Report.h"
#include "app/Run.h"
#include "app/Scan.h"
#include "cli/CliDialogs.h"
#include "company/Settings.h"
#include "modules/Progress.h"
#include "platform/Cp874.h"
#include "platform/Faults.h"
#include "platform/PlainFile.h"
#include "platform/System.h"
#include "platform/Terminal.h"
#include "ui/Dialogs.h"

#include "testkit/Demo.h"

namespace {

using namespace kv;

constexpr int kExitOk = 0;
constexpr int kExitEarly = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFindings = 3;

int Usage(const std::string& why) {
  if (!why.empty()) std::cerr << "kvfix207-cli: " << why << "\n";
  std::cerr << "usage:\n"
               "  kvfix207-cli repair [--yes] [--restore-temp] COMPANY_DIR\n"
               "  kvfix207-cli scan COMPANY_DIR\n"
               "  kvfix207-cli make-demo [--records N] [--seed S] COMPANY_DIR\n";
  return kExitUsage;
}

class StderrProgress : public modules::ProgressSink {
 protected:
  void OnStep(std::string_view module, std::string_view file) override {
    std::cerr << "[" << Position() << "/" << modules::kProgressMax << "] " << module << " " << file
              << " (repaired records so far: " << RepairCount() << ")\n";
  }
};

bool ParseNumber(std::string_view text, uint64_t& value) {
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

// An argument that is none of the command's options: the company directory, given
// once. Returns what is wrong with it for the usage text, empty when it was taken.
std::string TakeDirectory(const std::string& arg, std::string& dir) {
  if (!arg.empty() && arg[0] == '-') return "unknown option " + arg;
  if (!dir.empty()) return "more than one company directory";
  dir = arg;
  return {};
}

int Repair(const std::vector<std::string>& args) {
  cli::Answers answers;
  std::string dir;
  for (const std::string& a : args) {
    if (a == "--yes") {
      answers.yes = true;
    } else if (a == "--restore-temp") {
      answers.restoreTemp = true;
    } else if (const std::string problem = TakeDirectory(a, dir); !problem.empty()) {
      return Usage(problem);
    }
  }
  if (dir.empty()) return Usage("repair needs a company directory");
  answers.interactive = !answers.yes && platform::StdinIsTerminal();

  cli::CliDialogs dialogs(answers, std::cout, std::cerr, std::cin);
  company::Settings settings;
  try {
    settings = company::InitSettings();
    company::ReadSettings(settings);
  } catch (const platform::IoError& e) {
    dialogs.ShowError(app::IoErrorMessage(e.code(), e.name()));
    return kExitEarly;
  }

  cli::Utf8LineBuf helpBuf(std::cout);
  std::ostream helpOut(&helpBuf);
  app::RepairRun run(dialogs, settings, helpOut);
  if (!run.Startup(dir)) {
    run.Close();
    return kExitEarly;
  }
  StderrProgress progress;
  int status = kExitEarly;
  try {
    status = run.Fix(progress) ? kExitOk : kExitEarly;
  } catch (const ui::EndRun&) {
    status = kExitEarly;
  }
  run.Close();
  helpOut.flush();
  std::cerr << "repaired records: " << run.RepairCount() << "\n";
  if (!run.ReportPath().empty()) std::cerr << "report: " << run.ReportPath() << "\n";
  return status;
}

int Scan(const std::vector<std::string>& args) {
  if (args.size() != 1 || (!args[0].empty() && args[0][0] == '-')) return Usage("scan needs exactly a company directory");
  app::ScanSummary summary;
  std::string error;
  const bool ok = app::ScanCompany(
      args[0],
      [](const app::ScanFinding& f) {
        std::cout << f.file << '\t' << f.record << '\t' << f.offset << '\t' << app::HexBytes(f.bytes.data(), f.bytes.size())
                  << '\n';
      },
      summary, error);
  std::cout.flush();
  std::cerr << "scanned " << summary.filesScanned << " files, " << summary.recordsScanned << " live records; "
            << summary.findings << " unsound money fields\n";
  if (!ok) {
    std::cerr << "kvfix207-cli: " << error << "\n";
    return kExitEarly;
  }
  return summary.findings > 0 ? kExitFindings : kExitOk;
}

int MakeDemo(const std::vector<std::string>& args) {
  uint64_t records = 0;
  uint64_t seed = 0;
  bool haveRecords = false;
  bool haveSeed = false;
  std::string dir;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--records" || a == "--seed") {
      if (i + 1 >= args.size()) return Usage(a + " needs a number");
      uint64_t v = 0;
      if (!ParseNumber(args[++i], v)) return Usage(a + " needs a number, not " + args[i]);
      if (a == "--records") {
        if (v == 0 || v > 1000000) return Usage("--records must be 1..1000000");
        records = v;
        haveRecords = true;
      } else {
        seed = v;
        haveSeed = true;
      }
    } else if (const std::string problem = TakeDirectory(a, dir); !problem.empty()) {
      return Usage(problem);
    }
  }
  if (dir.empty()) return Usage("make-demo needs a company directory");
  testkit::DemoOptions options;
  if (haveRecords) options.records = static_cast<int32_t>(records);
  if (haveSeed) options.seed = seed;
  const testkit::DemoCompany company = testkit::MakeDemoCompany(dir, options);
  if (!company.error.empty()) {
    std::cerr << "kvfix207-cli: " << company.error << "\n";
    return kExitEarly;
  }
  testkit::PrintPlantedCounts(company, std::cout);
  return kExitOk;
}

// With KVFIX_STATS=1 in the environment, the calls the platform layer made to the
// operating system are printed to standard error when the program ends (the benchmark
// script counts them per record; with a simulated share, also the delayed ones).
struct CallCountsAtExit {
  ~CallCountsAtExit() {
    if (platform::GetEnv("KVFIX_STATS") != "1") return;
    static constexpr const char* kNames[] = {"open",  "create", "read",   "write",  "flush",
                                             "truncate", "size", "close", "lock",   "unlock",
                                             "delete", "rename", "stat",  "directory"};
    static_assert(std::size(kNames) == static_cast<size_t>(platform::Op::kCount));
    const platform::CallCounts counts = platform::GetCallCounts();
    std::cerr << "platform calls: total " << counts.Total() << ";";
    for (size_t i = 0; i < std::size(kNames); ++i) {
      std::cerr << (i == 0 ? " " : ", ") << kNames[i] << " " << counts.calls[i];
    }
    std::cerr << "; delayed " << platform::DelayedCalls() << "\n";
  }
};

}  // namespace

int main(int argc, char** argv) {
  const CallCountsAtExit callCounts;
  platform::UseConsoleForText();
  std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  if (args.empty()) return Usage("");
  const std::string command = args.front();
  args.erase(args.begin());
  try {
    if (command == "repair") return Repair(args);
    if (command == "scan") return Scan(args);
    if (command == "make-demo") return MakeDemo(args);
    if (command == "--help" || command == "-h" || command == "help") {
      Usage("");
      return kExitOk;
    }
    return Usage("unknown command " + command);
  } catch (const platform::IoError& e) {
    std::cout << "Error: " << platform::Cp874ToUtf8(app::IoErrorMessage(e.code(), e.name())) << std::endl;
    return kExitEarly;
  } catch (const std::exception& e) {
    std::cerr << "kvfix207-cli: " << e.what() << "\n";
    return kExitEarly;
  }
}
