// Writes the seed corpora of the fuzz targets: a few small inputs per target, built
// with the test kit where the target reads the engine's files.
//
// Usage: fuzz-make-seeds <corpus directory>   (writes <dir>/<target>/<seed>)
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "EngineInput.h"
#include "FuzzSupport.h"
#include "JournalFixture.h"
#include "testkit/Builder.h"

namespace {

using namespace kv::fuzz;
using namespace kv::testkit;

std::string g_out;

void Seed(const std::string& target, const std::string& name, std::string_view bytes) {
  const std::string dir = g_out + "/" + target;
  mkdir(dir.c_str(), 0755);
  const std::string error = WriteBytes(dir + "/" + name, bytes);
  if (!error.empty()) Fail("seed", error);
}

std::string Field(uint16_t signExponent, uint64_t significand) {
  std::string f(10, '\0');
  for (int i = 0; i < 8; ++i) f[i] = static_cast<char>(significand >> (8 * i));
  f[8] = static_cast<char>(signExponent);
  f[9] = static_cast<char>(signExponent >> 8);
  return f;
}

void MoneySeeds() {
  Seed("fuzz_money", "bounds", Field(0x4020, 0x9502F8FFFF5C28F6) + Field(0xC020, 0x9502F8FFFF5C28F6) +
                                   Field(0x4020, 0x9502F8FFFF5C3DEE) + Field(0x4020, 0x9502F8FFFF5C3DEF));
  Seed("fuzz_money", "special", Field(0, 0) + Field(0x8000, 0) + Field(0x7FFF, 1ull << 63) +
                                    Field(0xFFFF, 0xC000000000000000) + Field(0x3FFF, 1) +
                                    Field(0, 1) + Field(0, 1ull << 63));
  Seed("fuzz_money", "ordinary", Field(0x4009, 0x9A50000000000000) + Field(0xBFF8, 0xA3D70A3D70A3D70A));
}

void ErrorCatalogueSeeds() {
  auto number = [](int32_t n) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(n >> (8 * i));
    return s;
  };
  Seed("fuzz_errorcat", "two-entries",
       number(10010) + "preface\r\n%ERROR%10010\r\nfirst line\r\n\r\nsecond line\r\n"
                       "%ERROR%10020\r\none line\r\n");
  Seed("fuzz_errorcat", "duplicates-and-blanks",
       number(100) + "%ERROR%100 \r\n%ERROR%1000\r\nthousand\r\n%ERROR%100\r\nhundred\r\n"
                     "%ERROR%100\r\nsecond\n\rmixed ends\r");
  Seed("fuzz_errorcat", "thai", number(9903) + "%ERROR%9903\r\n\xe4\xc1\xe8\xbe\xba\xe1\xbf\xec\xc1\r\n");
}

void SettingsSeeds() {
  auto input = [](uint8_t flags, std::string_view cfg, std::string_view ini, std::string_view dir,
                  std::string_view company, std::string_view scheme) {
    std::string s(1, static_cast<char>(flags));
    AppendPart(s, cfg);
    AppendPart(s, ini);
    AppendPart(s, dir);
    AppendPart(s, company);
    s.append(scheme);
    return s;
  };
  std::string scheme(168, '\0');
  for (int i = 0; i < 42; ++i) scheme[4 * i] = static_cast<char>(i * 7);
  Seed("fuzz_settings", "full",
       input(4,
             "SCREEN=SVGA=1\r\n; comment\r\nOPENCOMPANY_DIR_PR=D:\\PR\r\nOPENCOMPANY_DIR=C:\\DATA\r\n"
             "OPENCOMPANY_COMPANY=\xbb\xc3\xd0\xe0\xb7\xc8\r\nOPENCOMPANY_SELECT=1\r\n"
             "OPENCOMPANY_COLPOSITION=250\r\nUSER_COLOR_TYPE=6\r\nCUSTOM_GRID_COLOR=15132390\r\n"
             "\r\nOPENCOMPANY_DIR=\r\n",
             "wsnumber = 3\r\nInvoiceOldForm = true\r\n;x\r\n", "C:\\NEW", "Company", scheme));
  Seed("fuzz_settings", "other-spellings",
       input(0, "opencompany_dir=lower\nOPENCOMPANY_DIR=upper\rOPENCOMPANY_SELECT=TRUE\n"
                "USER_COLOR_TYPE=x\nOPENCOMPANY_COLPOSITION=-12\n",
             "", "", "", ""));
  Seed("fuzz_settings", "missing-files", input(3, "", "", "dir", "name", ""));
}

std::string Pack(uint8_t flags, std::string_view lookup, const std::string& dir, bool withDia) {
  std::string dat, ix, dia;
  ReadBytes(dir + "/SEED.DAT", dat);
  ReadBytes(dir + "/SEED.IX", ix);
  if (withDia) ReadBytes(dir + "/SEED.DIA", dia);
  std::string s(1, static_cast<char>(flags));
  AppendPart(s, lookup);
  AppendPart(s, dat);
  AppendPart(s, ix);
  s.append(dia);
  return s;
}

std::string Build(const FileLayout& base, int records, std::vector<int32_t> deleted = {}) {
  FileLayout fileLayout = base;
  fileLayout.dataPath = ScratchDirectory() + "/SEED.DAT";
  fileLayout.highestSlot = records;
  fileLayout.freeChain = DescendingChain(deleted);
  RemoveScratchFile("SEED.IX");
  RemoveScratchFile("SEED.DIA");
  const size_t keyCount = fileLayout.keys.size();
  const std::string error = BuildFile(fileLayout, [keyCount](int32_t record, bool deleted,
                                                       std::span<uint8_t> slot, KeySink& keys) {
    for (size_t i = 4; i < slot.size(); ++i) slot[i] = static_cast<uint8_t>(record + i);
    if (deleted) return;
    if (keyCount >= 1) keys.Add(1, "R" + std::to_string(record * 7 % 100));
    if (keyCount >= 2) keys.Add(2, record % 2 ? "ODD" : "EVEN");
  });
  if (!error.empty()) Fail("engine seed", error);
  return ScratchDirectory();
}

// A save journal that holds only a data header (of a file with two keys).
std::string HeaderJournal(DataHeader header) {
  header.keyCount = 2;
  JournalWriter journal;
  journal.AddDataHeader(header);
  journal.End();
  return journal.Bytes();
}

void EngineSeeds() {
  FileLayout oneKey;
  oneKey.slotLength = 24;
  oneKey.keys = {{4, false}};
  oneKey.index.maxItemsPerPage = 4;
  FileLayout twoKeys = oneKey;
  twoKeys.keys = {{4, false}, {4, true}};
  twoKeys.index.maxItemsPerPage = 3;

  // Single-user, one key, a shallow tree.
  std::string dir = Build(oneKey, 6, {});
  Seed("fuzz_engine", "single-one-key", Pack(0, "R14", dir, false));

  dir = Build(twoKeys, 10, {3, 8});
  WriteBytes(dir + "/SEED.DIA", CoordinationLayout(2));
  Seed("fuzz_engine", "network-two-keys", Pack(kNetworkEngine, "ODD", dir, true));
  Seed("fuzz_engine", "network-locked", Pack(kNetworkEngine | kLockBlock, "R21", dir, true));
  // Every station slot signals every change: the first read re-reads every header.
  WriteBytes(dir + "/SEED.DIA", CoordinationLayout(2, 51, 0xFF));
  Seed("fuzz_engine", "network-signals", Pack(kNetworkEngine, "R14", dir, true));
  Seed("fuzz_engine", "network-readonly-nolocks",
       Pack(kNetworkEngine | kReadOnly | kNoLocks | kNoDia, "EVEN", dir, false));

  // A coordination file that is neither new nor a layout: a journal to replay.
  WriteBytes(dir + "/SEED.DIA", HeaderJournal({.freeHead = 8, .freeCount = 2, .highestSlot = 10, .slotLength = 24}));
  Seed("fuzz_engine", "single-journal", Pack(kSaveMode | kNoNetwork, "R0", dir, true));

  // No keys at all: no index file.
  FileLayout noKeys;
  noKeys.slotLength = 40;
  dir = Build(noKeys, 3, {2});
  Seed("fuzz_engine", "no-keys", Pack(kNoIndex | kNoDia, "", dir, false));
}

void JournalSeeds() {
  FileInfo info;
  const std::string error = BuildJournalFixture(ScratchDirectory(), &info);
  if (!error.empty()) Fail("journal fixture", error);

  // Page images of both keys, header images with and without a freed slot, the end.
  JournalWriter full(0x01);
  PageImage page;
  page.leftmost = 0;
  page.items = {{1, 0, "A"}, {2, 0, "K103"}, {4, 0, "ZZZZ"}};
  full.AddPage(1, kJournalKey1Length, info.keys[0].rootPage, page);
  PageImage dup;
  dup.items = {{3, 0, "SAME"}, {6, 0, "SAME"}};
  full.AddPage(2, kJournalKey2Length, info.keys[1].highestPage + 1, dup);
  DataHeader data = info.header;
  data.freeHead = 7;
  data.freeCount += 1;
  full.AddDataHeader(data, info.header.freeHead);
  KeyHeader key;
  key.sectionLength = SectionLength(kJournalKey2Length);
  key.rootPage = info.keys[1].highestPage + 1;
  key.highestPage = info.keys[1].highestPage + 1;
  key.allowDuplicates = 1;
  key.entryCount = 2;
  full.AddKeyHeader(2, key);
  full.End();
  Seed("fuzz_journal", "pages-and-headers", full.Bytes());

  JournalWriter late(0x11);
  late.AddPage(1, kJournalKey1Length, info.keys[0].rootPage, page);
  late.AddDataHeader(info.header);
  late.End();
  Seed("fuzz_journal", "after-open-network", late.Bytes());
  JournalWriter lateLocked(0x19);
  lateLocked.AddKeyHeader(2, key);
  lateLocked.End();
  Seed("fuzz_journal", "after-open-locked", lateLocked.Bytes());

  JournalWriter locked(0x0B);
  locked.AddDataHeader(info.header);
  locked.End();
  Seed("fuzz_journal", "header-network-locked", locked.Bytes());

  JournalWriter cut(0x02);
  cut.AddPage(1, kJournalKey1Length, 1, page);
  std::string truncated = cut.Bytes();
  truncated.resize(truncated.size() - 3);
  Seed("fuzz_journal", "truncated-save-mode", truncated);

  JournalWriter bad(0x05);
  bad.AddTag(77);
  Seed("fuzz_journal", "bad-tag", bad.Bytes());

  // A layout with one byte too many: damaged, replays the end tag at offset 1.
  std::string layout = CoordinationLayout(2);
  layout.push_back('\0');
  Seed("fuzz_journal", "layout-plus-one", layout);
}

void CompanyListSeeds() {
  auto input = [](uint8_t flags, std::string_view ini, std::string_view def, std::string_view cfg,
                  std::string_view commands) {
    std::string s(1, static_cast<char>(flags));
    AppendPart(s, ini);
    AppendPart(s, def);
    AppendPart(s, cfg);
    s.append(commands);
    return s;
  };
  const std::string cfg =
      "OPENCOMPANY_DIR=c:\\kv\\demo\r\nOPENCOMPANY_COMPANY=demo co\r\nOPENCOMPANY_SELECT=1\r\n"
      "OPENCOMPANY_COLPOSITION=300\r\n";
  Seed("fuzz_companylist", "list-and-commands",
       input(0,
             "Demo Co;C:\\KV\\DEMO\r\n\r\nno separator\r\n\xbb\xc3\xd0\xe0\xb7\xc8;D:\\TH|D:\\TPL\r\n"
             ";E:\\NONAME\nname only;\rdemo co;c:\\kv\\demo\r\n",
             "", cfg, std::string("\x00\x02\x01\x03\x02\x04\x03\x05\x05\x01\x07\x59", 12)));
  std::string many;
  for (int i = 1; i <= 95; ++i) many += "C" + std::to_string(i) + ";D" + std::to_string(i) + "\r\n";
  Seed("fuzz_companylist", "more-than-90-lines",
       input(8, many, "", "", std::string("\x01\x00\x00\x59\x03\x59\x02\x00", 8)));
  Seed("fuzz_companylist", "default-list",
       input(1 | 32, "", "A:\\ONE\r\n\r\nB:\\TWO|T\r\n", cfg, ""));
  Seed("fuzz_companylist", "nothing", input(1 | 2 | 4 | 16, "", "", "", std::string("\x00\x00", 2)));
}

}  // namespace

// fuzz_check: a sound GLFILE04 (two keys of 23 and 16 characters, duplicates, trees
// three levels deep) with a layout, then with a journal, and a side file.
void CheckSeeds() {
  FileLayout fileLayout;
  fileLayout.dataPath = ScratchDirectory() + "/GLFILE04.DAT";
  fileLayout.slotLength = 151;
  fileLayout.keys = {{23, true}, {16, true}};
  fileLayout.highestSlot = 40;
  fileLayout.freeChain = DescendingChain({5, 17, 33});
  fileLayout.index.maxItemsPerPage = 3;
  const std::string error = BuildFile(fileLayout, [](int32_t record, bool deleted, std::span<uint8_t>, KeySink& keys) {
    if (deleted) return;
    keys.Add(1, "ACCOUNT" + std::to_string(record % 9));
    keys.Add(2, std::to_string(1000 + record));
  });
  if (!error.empty()) Fail("check seed", error);
  const std::string dat = ReadScratchFile("GLFILE04.DAT");
  const std::string ix = ReadScratchFile("GLFILE04.IX");
  auto pack = [&](std::string_view dia, std::string_view side) {
    std::string out;
    AppendPart(out, dat);
    AppendPart(out, ix);
    AppendPart(out, dia);
    return out + std::string(side);
  };
  Seed("fuzz_check", "layout", pack(CoordinationLayout(2), std::string(440, '\0')));
  Seed("fuzz_check", "journal",
       pack(HeaderJournal({.freeHead = 33, .freeCount = 3, .highestSlot = 40, .slotLength = 151}), ""));
  Seed("fuzz_check", "data-only", pack("", std::string(221, '\0')));
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
    return 2;
  }
  g_out = argv[1];
  mkdir(g_out.c_str(), 0755);
  MoneySeeds();
  ErrorCatalogueSeeds();
  SettingsSeeds();
  EngineSeeds();
  JournalSeeds();
  CompanyListSeeds();
  CheckSeeds();
  return 0;
}
