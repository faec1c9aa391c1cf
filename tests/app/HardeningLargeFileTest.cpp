// A whole repair run over an inventory master file whose records lie past 2 GiB and
// 4 GiB: the file is sparse (header, three ordinary records, then a hole of zero slots,
// which are live records with sound zero amounts, then damaged records far out). The
// run must walk to the end, reset exactly the damaged amounts, and change no other byte.
//
// The walk visits about 1.5 million slots (some 20 s): it runs in the plain build, and in
// the sanitizer build only when KV_BIG_WALK is set; KV_BIG_WALK=0 skips it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "Hardening.h"
#include "testkit/Builder.h"
#include "testkit/Money.h"

namespace kv::hardening {
namespace {

constexpr int32_t kSlot = 2901;
constexpr int32_t kPast2G = static_cast<int32_t>((1ull << 31) / kSlot + 1);
constexpr int32_t kPast4G = static_cast<int32_t>((1ull << 32) / kSlot + 2);

class HardeningLargeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* gate = std::getenv("KV_BIG_WALK");
    if (gate != nullptr && std::string(gate) == "0") GTEST_SKIP() << "KV_BIG_WALK=0";
    if (kSanitized && gate == nullptr) GTEST_SKIP() << "the walk over 1.5 million slots runs in the plain build";
    const std::string build = BuildDir();
    if (build.empty()) GTEST_SKIP() << "KV_BUILD_DIR not set (run through ctest)";
    cli_ = build + "/src/kvfix207-cli";
    if (!fs::exists(cli_)) FAIL() << "kvfix207-cli of this build is missing: " << cli_;
    dir_ = MakeRunDir("kvbig", "/tmp", {"company"});
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  void Pwrite(const std::string& path, int64_t at, const void* bytes, size_t n) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes, n, static_cast<off_t>(at)), static_cast<ssize_t>(n));
    ::close(fd);
  }
  std::vector<uint8_t> Pread(const std::string& path, int64_t at, size_t n) {
    std::vector<uint8_t> out(n);
    const int fd = ::open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::pread(fd, out.data(), n, static_cast<off_t>(at)), static_cast<ssize_t>(n));
    ::close(fd);
    return out;
  }

  std::string cli_, dir_;
};

TEST_F(HardeningLargeFileTest, WalksAndRepairsRecordsPastFourGiB) {
  const std::string company = dir_ + "/company";
  const std::string data = company + "/ICFILE01.DAT";
  const modules::DataFileDef& def = modules::DataFile("ICFILE01");
  testkit::FileLayout fileLayout;
  fileLayout.dataPath = data;
  fileLayout.slotLength = kSlot;
  fileLayout.keys.assign(def.keys.begin(), def.keys.end());
  fileLayout.highestSlot = 3;
  ASSERT_EQ(testkit::BuildFile(fileLayout,
                               [](int32_t rec, bool, std::span<uint8_t> slot, testkit::KeySink& keys) {
                                 slot[4] = static_cast<uint8_t>(rec);
                                 for (int k = 1; k <= 5; ++k) keys.Add(k, "R" + std::to_string(rec));
                               }),
            "");
  ASSERT_EQ(testkit::WriteBytes(company + "/ICINFO.DAT", ""), "");

  // Far records: one past 2 GiB and one past 4 GiB with damaged amounts at the first and
  // the last money field, and a sound record beside each.
  const uint16_t first = def.moneyOffsets.front(), last = def.moneyOffsets.back();
  std::vector<uint8_t> bad(kSlot, 0x33), good(kSlot, 0x33);
  isam::PutI32(bad.data(), 0);
  isam::PutI32(good.data(), 0);
  for (uint16_t off : def.moneyOffsets) {
    const testkit::Money m = testkit::MoneyFromCents(12345);
    std::copy(m.begin(), m.end(), bad.begin() + off);
    std::copy(m.begin(), m.end(), good.begin() + off);
  }
  const testkit::Money nan{0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F};
  std::copy(nan.begin(), nan.end(), bad.begin() + first);
  std::copy(nan.begin(), nan.end(), bad.begin() + last);
  for (int32_t r : {kPast2G, kPast4G}) {
    Pwrite(data, static_cast<int64_t>(r) * kSlot, bad.data(), bad.size());
    Pwrite(data, static_cast<int64_t>(r + 1) * kSlot, good.data(), good.size());
  }
  uint8_t highest[4];
  isam::PutI32(highest, kPast4G + 1);
  Pwrite(data, 8, highest, 4);

  Child c;
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(c.Start({cli_, "repair", "--yes", company}, dir_ + "/start",
                      {"APPDATA=" + dir_ + "/appdata", "TEMP=" + dir_ + "/temp"}, dir_ + "/out", dir_ + "/err"));
  ASSERT_EQ(c.Wait(900), 0) << ReadFile(dir_ + "/out") << ReadFile(dir_ + "/err");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  std::vector<uint8_t> repaired = bad;
  std::fill_n(repaired.begin() + first, 10, 0);
  std::fill_n(repaired.begin() + last, 10, 0);
  for (int32_t r : {kPast2G, kPast4G}) {
    EXPECT_EQ(Pread(data, static_cast<int64_t>(r) * kSlot, kSlot), repaired) << "record " << r;
    EXPECT_EQ(Pread(data, static_cast<int64_t>(r + 1) * kSlot, kSlot), good) << "record " << r + 1;
  }
  EXPECT_EQ(fs::file_size(data), static_cast<uintmax_t>(kPast4G + 2) * kSlot);
  EXPECT_EQ(isam::GetI32(Pread(data, 8, 4).data()), kPast4G + 1);
  EXPECT_NE(ReadFile(dir_ + "/err").find("repaired records: 2"), std::string::npos) << ReadFile(dir_ + "/err");
  std::printf("large file: %d slots of %d bytes (%.2f GiB) walked and repaired in %.1f s\n", kPast4G + 1, kSlot,
              static_cast<double>(kPast4G + 2) * kSlot / (1u << 30), seconds);
}

}  // namespace
}  // namespace kv::hardening
