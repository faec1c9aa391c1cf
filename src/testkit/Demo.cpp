#include "testkit/Demo.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "isam/Coding.h"
#include "modules/ModuleTables.h"
#include "platform/Cp874.h"
#include "platform/File.h"
#include "platform/System.h"
#include "testkit/Builder.h"

namespace kv::testkit {

namespace {

using platform::Th;

// Short string of the given capacity at `offset`: a length byte, then the text (cut).
void PutShort(std::span<uint8_t> buf, size_t offset, size_t capacity, std::string_view text) {
  const size_t len = std::min({text.size(), capacity, size_t{255}});
  if (offset + 1 + len > buf.size()) return;
  buf[offset] = static_cast<uint8_t>(len);
  std::copy_n(text.begin(), len, buf.begin() + static_cast<std::ptrdiff_t>(offset) + 1);
}

std::string Base36(uint64_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v % 36]);
    v /= 36;
  } while (v != 0);
  return s;
}

uint64_t Mix(uint64_t a, uint64_t b) {
  uint64_t s = a ^ (b * 0x9E3779B97F4A7C15ull);
  return NextRandom(s);
}

// Characters of generated key texts: Latin letters and digits, and Thai consonants of
// code page 874 (bytes above 0x7F, so the unsigned ordering matters).
constexpr std::string_view kKeyAlphabet =
    "ABCDEFGHJKLMNPQRSTUVWXYZ0123456789"
    "\xA1\xA2\xA4\xA7\xA8\xAA\xB4\xB5\xB7\xB9\xBA\xBB\xBC\xBE\xC1\xC2\xC3\xC5\xC7\xCA\xCB\xCD";

// Key texts are a prefix of fixed length, scrambled from the record (or the group of
// records that share a text), followed by the number of that record or group in base
// 36. The fixed prefix length keeps texts of distinct numbers distinct; the varying
// suffix length puts texts that are prefixes of others into the trees.
class KeyTexts {
 public:
  KeyTexts(uint64_t seed, int keyNumber, isam::KeyDesc desc, int32_t records)
      : seed_(Mix(seed, static_cast<uint64_t>(keyNumber))),
        desc_(desc),
        groups_(std::max<int32_t>(1, records / 4)) {
    const int digits = static_cast<int>(Base36(static_cast<uint64_t>(std::max(records, 1))).size());
    prefix_ = std::clamp(desc.length - digits, 0, 6);
    fits_ = digits <= desc.length;
  }
  bool Fits() const { return fits_; }

  std::string For(int32_t record) const {
    uint64_t id = static_cast<uint64_t>(record);
    if (desc_.duplicates) id = Mix(seed_, id) % static_cast<uint64_t>(groups_);
    uint64_t h = Mix(seed_ ^ 0x5bd1e995u, id);
    std::string text;
    for (int i = 0; i < prefix_; ++i) {
      text.push_back(kKeyAlphabet[h % kKeyAlphabet.size()]);
      h /= kKeyAlphabet.size();
    }
    return text + Base36(id);
  }

 private:
  uint64_t seed_;
  isam::KeyDesc desc_;
  int32_t groups_;
  int prefix_ = 0;
  bool fits_ = true;
};

// Picks `count` distinct members of `from` (partial shuffle), returned sorted.
std::vector<int32_t> Pick(std::vector<int32_t> from, size_t count, uint64_t& rng) {
  count = std::min(count, from.size());
  for (size_t i = 0; i < count; ++i) {
    const size_t j = i + RandomBelow(rng, from.size() - i);
    std::swap(from[i], from[j]);
  }
  from.resize(count);
  std::sort(from.begin(), from.end());
  return from;
}

enum class AtLeast { kNone, kOne };

size_t Share(size_t of, double rate, AtLeast least) {
  if (rate <= 0 || of == 0) return 0;
  const auto n = static_cast<size_t>(std::llround(static_cast<double>(of) * rate));
  return std::clamp<size_t>(n, least == AtLeast::kOne ? 1 : 0, of);
}

std::string WriteRecords(const std::string& path, size_t recordLength,
                         const std::vector<std::vector<uint8_t>>& records) {
  std::string bytes;
  for (const auto& r : records) {
    std::string one(recordLength, '\0');
    std::copy_n(r.begin(), std::min(r.size(), recordLength), one.begin());
    bytes += one;
  }
  return WriteBytes(path, bytes);
}

std::vector<uint8_t> Record(size_t length) { return std::vector<uint8_t>(length, 0); }

constexpr std::string_view kLastClose = "31/12/67";

std::string WriteInformationFiles(const std::string& dir, const DemoCompany& company) {
  using modules::SideFile;
  std::string err;
  auto info = [&](std::string_view name) {
    return Record(static_cast<size_t>(SideFile(name).recordLength));
  };
  auto write = [&](std::string_view name, const std::vector<uint8_t>& rec) {
    if (err.empty()) {
      err = WriteBytes(dir + "/" + std::string(name),
                       std::string_view(reinterpret_cast<const char*>(rec.data()), rec.size()));
    }
  };

  std::vector<uint8_t> gl = info("GLINFO.DAT");
  PutShort(gl, 284, 8, kLastClose);
  for (auto [at, v] : {std::pair{294, 1}, {295, 3}, {296, 1}, {2205, 1}, {2209, 1}, {2212, 2}, {2215, 1}}) {
    gl[static_cast<size_t>(at)] = static_cast<uint8_t>(v);
  }
  PutShort(gl, 405, 10, company.glLookupKey);
  write("GLINFO.DAT", gl);

  std::vector<uint8_t> ic = info("ICINFO.DAT");
  PutShort(ic, 264, 8, kLastClose);
  for (auto [at, v] : {std::pair{274, 1}, {275, 1}, {285, 2}, {288, 1}}) ic[static_cast<size_t>(at)] = static_cast<uint8_t>(v);
  write("ICINFO.DAT", ic);

  // AP and AR share a layout; AR keeps its copy of the byte at 616 at 619, AP at 630.
  static constexpr Money kSeven{0, 0, 0, 0, 0, 0, 0, 0xE0, 0x01, 0x40};
  for (const bool ap : {true, false}) {
    std::vector<uint8_t> r = info(ap ? "APINFO.DAT" : "ARINFO.DAT");
    PutShort(r, 246, 8, kLastClose);
    r[282] = 1;
    r[283] = 1;
    PutShort(r, 307, 10, ap ? "2100-01" : "1130-01");
    PutShort(r, 318, 10, ap ? "2100-02" : "1130-02");
    isam::PutI16(r.data() + 601, 7);
    r[603] = 1;
    std::copy(kSeven.begin(), kSeven.end(), r.begin() + 606);
    r[616] = 1;
    r[ap ? 630 : 619] = 1;
    write(ap ? "APINFO.DAT" : "ARINFO.DAT", r);
  }

  std::vector<uint8_t> bi = info("BIINFO.DAT");
  for (int at : {314, 315, 316, 317, 319, 321, 690, 692, 693, 696, 700, 702, 703, 704, 706, 714}) {
    bi[static_cast<size_t>(at)] = 1;
  }
  bi[699] = 2;
  write("BIINFO.DAT", bi);

  std::vector<uint8_t> po = info("POINFO.DAT");
  for (int at : {315, 316, 319, 321, 690, 692, 693, 696, 701, 702, 711}) po[static_cast<size_t>(at)] = 1;
  po[317] = 2;
  po[699] = 2;
  PutShort(po, 403, 16, Th("รายการซื้อสินค้า"));
  PutShort(po, 484, 23, Th("ใบเพิ่มหนี้/ใบกำกับภาษี"));
  PutShort(po, 565, 16, Th("ใบสั่งซื้อสินค้า"));
  write("POINFO.DAT", po);
  return err;
}

std::string WriteSideFiles(const std::string& dir) {
  using modules::SideFile;
  std::string err;
  auto write = [&](std::string_view name, const std::vector<std::vector<uint8_t>>& records) {
    if (err.empty()) {
      err = WriteRecords(dir + "/" + std::string(name),
                         static_cast<size_t>(SideFile(name).recordLength), records);
    }
  };
  auto named = [](size_t length, std::initializer_list<std::pair<size_t, std::string>> fields) {
    std::vector<uint8_t> r = Record(length);
    for (const auto& [at, text] : fields) PutShort(r, at, std::min<size_t>(30, length - at - 1), text);
    return r;
  };

  write("GLBOOK.DAT", {named(230, {{0, "JV"}, {11, Th("สมุดรายวันทั่วไป")}}),
                       named(230, {{0, "RV"}, {11, Th("สมุดรายวันรับ")}}),
                       named(230, {{0, "PV"}, {11, Th("สมุดรายวันจ่าย")}}),
                       named(230, {{0, "SV"}, {11, Th("สมุดรายวันขาย")}}),
                       named(230, {{0, "BV"}, {11, Th("สมุดรายวันซื้อ")}})});
  write("GLTBUF.DAT", {named(220, {{0, "JV6712-0001"}}), named(220, {{0, "JV6712-0002"}}),
                       named(220, {{0, "RV6712-0001"}})});
  std::vector<std::vector<uint8_t>> tbfs;
  for (int32_t v : {1, 2, 3, 5, 8}) {
    std::vector<uint8_t> r = Record(4);
    isam::PutI32(r.data(), v);
    tbfs.push_back(r);
  }
  write("GLTBFS.DAT", tbfs);
  write("ICDPMT.DAT", {named(63, {{0, "01"}, {4, Th("ฝ่ายขาย")}}), named(63, {{0, "02"}, {4, Th("ฝ่ายผลิต")}}),
                       named(63, {{0, "03"}, {4, Th("ฝ่ายบัญชี")}})});
  write("ICSUBW.DAT", {named(141, {{0, Th("คลังสินค้าหลัก")}}), named(141, {{0, Th("คลังสินค้าสาขา")}})});
  write("APTBUF.DAT", {named(261, {{0, "RR6712-0001"}}), named(261, {{0, "RR6712-0002"}})});
  write("ARTBUF.DAT", {named(301, {{0, "IV6712-0001"}}), named(301, {{0, "IV6712-0002"}})});
  for (const bool ap : {true, false}) {
    std::vector<std::vector<uint8_t>> types(60, Record(52));
    types[0] = named(52, {{0, Th(ap ? "เจ้าหนี้การค้า" : "ลูกหนี้การค้า")}});
    types[1] = named(52, {{0, Th(ap ? "เจ้าหนี้อื่น" : "ลูกหนี้อื่น")}});
    PutShort(types[0], 31, 10, ap ? "2100-01" : "1130-01");
    PutShort(types[1], 31, 10, ap ? "2100-02" : "1130-02");
    write(ap ? "APTYPE.DAT" : "ARTYPE.DAT", types);
  }
  return err;
}

// Offset of the record's copy of its first key text: right after the deletion mark,
// where it does not overlap a money field.
constexpr size_t kKeyCopyOffset = 4;
constexpr size_t kGlNameOffset = 15;  // GLFILE02: the name the GL open copies

}  // namespace

int64_t DemoCompany::PlantedRecords() const {
  int64_t total = 0;
  for (const DemoFileCounts& f : files) total += f.plantedRecords;
  return total;
}

const DemoFileCounts* DemoCompany::File(const std::string& baseName) const {
  for (const DemoFileCounts& f : files) {
    if (f.file == baseName) return &f;
  }
  return nullptr;
}

DemoCompany MakeDemoCompany(const std::string& dir, int32_t records, uint64_t seed) {
  DemoOptions options;
  options.records = records;
  options.seed = seed;
  return MakeDemoCompany(dir, options);
}

DemoCompany MakeDemoCompany(const std::string& dir, const DemoOptions& options) {
  DemoCompany company;
  if (options.records < 1) {
    company.error = "a demo company needs at least one record per file";
    return company;
  }
  if (const platform::OsStatus err = platform::CreateDirectories(dir)) {
    company.error = "cannot create " + dir + ": " + platform::SystemErrorText(err);
    return company;
  }
  const int32_t n = options.records;
  const std::vector<modules::DataFileDef> files(modules::AllDataFiles().begin(),
                                                modules::AllDataFiles().end());
  for (size_t fi = 0; fi < files.size() && company.error.empty(); ++fi) {
    const modules::DataFileDef& def = files[fi];
    const std::string base(def.baseName);
    uint64_t rng = Mix(options.seed, fi + 1);

    int32_t slotLength = def.recordLength;
    if (auto it = options.slotLengths.find(base); it != options.slotLengths.end()) slotLength = it->second;

    std::vector<int32_t> all(static_cast<size_t>(n));
    for (int32_t r = 1; r <= n; ++r) all[static_cast<size_t>(r - 1)] = r;
    const std::vector<int32_t> deleted =
        Pick(all, std::min(Share(all.size(), options.deletedRate, n > 1 ? AtLeast::kOne : AtLeast::kNone), all.size() - 1), rng);
    std::vector<uint8_t> state(static_cast<size_t>(n) + 1, 0);  // 1 deleted, 2 planted
    for (int32_t d : deleted) state[static_cast<size_t>(d)] = 1;
    std::vector<int32_t> live;
    for (int32_t r = 1; r <= n; ++r) {
      if (state[static_cast<size_t>(r)] == 0) live.push_back(r);
    }
    // Money fields the slot can hold (a shortened slot loses the ones beyond it).
    std::vector<size_t> money;
    for (uint16_t off : def.moneyOffsets) {
      if (off + size_t{10} <= static_cast<size_t>(slotLength)) money.push_back(off);
    }
    const bool walked = def.walkOrder != 0;
    std::vector<int32_t> planted;
    if (walked && !money.empty()) planted = Pick(live, Share(live.size(), options.unsoundRate, AtLeast::kOne), rng);
    for (int32_t p : planted) state[static_cast<size_t>(p)] = 2;

    std::vector<KeyTexts> texts;
    for (size_t k = 0; k < def.keys.size(); ++k) {
      texts.emplace_back(options.seed + fi, static_cast<int>(k + 1), def.keys[k], n);
      if (!texts.back().Fits()) company.error = base + ": too many records for key " + std::to_string(k + 1);
    }
    if (!company.error.empty()) break;
    const size_t firstMoney = def.moneyOffsets.empty() ? static_cast<size_t>(slotLength) : def.moneyOffsets[0];
    const bool copyKey = !def.keys.empty() &&
                         kKeyCopyOffset + 1 + def.keys[0].length <= std::min(firstMoney, static_cast<size_t>(slotLength));
    const bool isGl02 = base == "GLFILE02";
    const std::string glName = Th("บัญชี");
    int32_t lookupRecord = live.empty() ? 0 : live[live.size() / 2];

    DemoFileCounts counts;
    counts.file = base;
    counts.walked = walked;
    counts.slotLength = slotLength;
    counts.slots = n;
    counts.live = static_cast<int32_t>(live.size());
    counts.deleted = static_cast<int32_t>(deleted.size());
    counts.plantedRecords = static_cast<int32_t>(planted.size());

    const uint64_t fileSeed = Mix(options.seed ^ 0xC0FFEE, fi + 1);
    auto fill = [&](int32_t r, bool isDeleted, std::span<uint8_t> slot, KeySink& keys) {
      uint64_t rr = Mix(fileSeed, static_cast<uint64_t>(r));
      if (isDeleted) {
        // Leftovers of a deleted record: random bytes, and bad amounts where the money
        // fields were. The repair must leave all of it alone.
        for (size_t i = 4; i < slot.size(); i += 8) {
          const uint64_t v = NextRandom(rr);
          for (size_t b = 0; b < 8 && i + b < slot.size(); ++b) slot[i + b] = static_cast<uint8_t>(v >> (8 * b));
        }
        for (size_t off : money) {
          if (RandomBelow(rr, 3) == 0) {
            const Money m = RandomUnsoundMoney(rr);
            std::copy(m.begin(), m.end(), slot.begin() + static_cast<std::ptrdiff_t>(off));
          }
        }
        return;
      }
      for (size_t k = 0; k < texts.size(); ++k) {
        const std::string t = texts[k].For(r);
        keys.Add(static_cast<int>(k + 1), t);
        if (k == 0 && copyKey) PutShort(slot, kKeyCopyOffset, def.keys[0].length, t);
        if (k == 0 && isGl02) {
          const std::string name = glName + " " + t;
          PutShort(slot, kGlNameOffset, 30, name);
          if (r == lookupRecord) {
            company.glLookupKey = t;
            company.glLookupName = name.substr(0, 10);
          }
        }
      }
      for (size_t off : money) {
        const Money m = RandomSoundMoney(rr);
        std::copy(m.begin(), m.end(), slot.begin() + static_cast<std::ptrdiff_t>(off));
      }
      if (state[static_cast<size_t>(r)] != 2) return;
      // Mostly one bad amount, sometimes a few in the same record.
      const uint64_t roll = RandomBelow(rr, 10);
      const size_t bad = roll < 7 ? 1 : (roll < 9 ? 2 : 3 + RandomBelow(rr, 3));
      std::vector<int32_t> indexes(money.size());
      for (size_t i = 0; i < money.size(); ++i) indexes[i] = static_cast<int32_t>(i);
      for (int32_t i : Pick(indexes, bad, rr)) {
        const size_t off = money[static_cast<size_t>(i)];
        PlantedField p;
        p.file = base;
        p.record = r;
        p.offset = static_cast<int>(off);
        p.bytes = RandomUnsoundMoney(rr);
        std::copy(p.bytes.begin(), p.bytes.end(), slot.begin() + static_cast<std::ptrdiff_t>(off));
        company.planted.push_back(p);
        ++counts.plantedFields;
      }
    };

    // Leftovers of an interrupted repair by the suite would belong to other data.
    for (const char* stale : {".SAV", ".IX~"}) (void)platform::DeleteFile(dir + "/" + base + stale);  // usually none
    FileLayout fileLayout;
    fileLayout.dataPath = dir + "/" + base + ".DAT";
    fileLayout.slotLength = slotLength;
    fileLayout.keys.assign(def.keys.begin(), def.keys.end());
    fileLayout.highestSlot = n;
    fileLayout.freeChain = DescendingChain(deleted);
    const std::string err = BuildFile(fileLayout, fill);
    if (!err.empty()) company.error = base + ": " + err;
    company.files.push_back(counts);
  }
  if (company.error.empty()) company.error = WriteInformationFiles(dir, company);
  if (company.error.empty()) company.error = WriteSideFiles(dir);
  return company;
}

void PrintPlantedCounts(const DemoCompany& company, std::ostream& out) {
  for (const DemoFileCounts& f : company.files) {
    out << f.file << (f.walked ? "  walked " : "  not walked ") << " slots " << f.slots << "  live "
        << f.live << "  deleted " << f.deleted;
    if (f.walked) out << "  bad records " << f.plantedRecords << " (" << f.plantedFields << " amounts)";
    out << '\n';
  }
  out << "records to repair: " << company.PlantedRecords() << " (" << company.planted.size()
      << " amounts)\n";
}

}  // namespace kv::testkit
