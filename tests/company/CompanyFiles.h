// A start directory and a settings directory under a fresh temporary directory, for the
// company list tests of the model and of the window. Restores the current directory.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "company/Settings.h"
#include "support/TempDir.h"

namespace kv::test {

class CompanyFiles {
 public:
  CompanyFiles() : savedCwd_(std::filesystem::current_path()) {
    root = MakeTempDir("kvcompany", std::filesystem::temp_directory_path().string());
    start = root + "/start";
    cfgDir = root + "/cfg";
    std::filesystem::create_directories(start);
    std::filesystem::create_directories(cfgDir);
    settings.dirs.start = start;
    settings.dirs.settings = cfgDir;
    settings.gridBand = {0, 15920358, 15523031, 15658978, 15199725, 15592697, 15132390};
  }
  ~CompanyFiles() {
    std::error_code ec;
    std::filesystem::current_path(savedCwd_, ec);
    RemoveTempDir(root);
  }
  CompanyFiles(const CompanyFiles&) = delete;
  CompanyFiles& operator=(const CompanyFiles&) = delete;

  std::string ListPath() const { return start + "/USERDRV.INI"; }
  std::string CfgPath() const { return cfgDir + "/KORVA.CFG"; }

  // A directory under the temporary root (made), returned as a full path.
  std::string Dir(const std::string& relative) const {
    std::string p = root + "/" + relative;
    std::filesystem::create_directories(p);
    return p;
  }

  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
  }
  static std::string Read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  // Lines joined with CR LF, each line ended.
  static std::string CrLf(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return out;
  }
  // The list as 90 CR LF lines with the given first lines.
  static std::string Ninety(std::vector<std::string> first) {
    first.resize(90);
    return CrLf(first);
  }

  std::string root, start, cfgDir;
  company::Settings settings;

 private:
  std::filesystem::path savedCwd_;
};

}  // namespace kv::test
