// The platform tests' scratch directory: a fresh one per test under /tmp (see
// support/TempDir.h), removed with everything in it afterwards.
#pragma once

#include "support/TempDir.h"

namespace kv::platform::testing {

class TempDirTest : public kv::test::TempDirTest {
 protected:
  TempDirTest() : kv::test::TempDirTest("kvp") {}
};

}  // namespace kv::platform::testing
