// The platform tests' scratch directory: a fresh one per test under /tmp (see
// support/TempDir.h), removed with everything in it afterwards.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace kv::platform::testing {

class TempDirTest : public kv::test::TempDirTest {
 protected:
  TempDirTest() : kv::test::TempDirTest("kvp") {}

  // Files of the directory other than the ones named: leftovers of a replace.
  std::vector<std::string> Others(const std::vector<std::string>& known) const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      std::string n = e.path().filename().string();
      if (std::find(known.begin(), known.end(), n) == known.end()) out.push_back(n);
    }
    return out;
  }
};

}  // namespace kv::platform::testing
