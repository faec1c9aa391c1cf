#include "isam/Format.h"

#include <cstring>

#include "isam/Coding.h"

namespace kv::isam {

BaseNames SplitBaseName(std::string_view name) {
  const size_t semi = name.find(';');
  if (semi == std::string_view::npos) return {std::string(name), std::string(name)};
  return {std::string(name.substr(0, semi)), std::string(name.substr(semi + 1))};
}

std::string ForceExtension(std::string_view base, std::string_view ext) {
  const size_t sep = base.find_last_of("\\/");
  const size_t dot = base.find_last_of('.');
  std::string out;
  if (dot != std::string_view::npos && (sep == std::string_view::npos || dot > sep)) {
    out.assign(base.substr(0, dot + 1));
  } else {
    out.assign(base);
    out.push_back('.');
  }
  out.append(ext);
  if (out.size() > kMaxNameLength) out.resize(kMaxNameLength);
  return out;
}

DataHeader DecodeDataHeader(const uint8_t* in) {
  DataHeader h;
  h.freeHead = GetI32(in);
  h.freeCount = GetI32(in + 4);
  h.highestSlot = GetI32(in + 8);
  h.slotLength = GetI32(in + 12);
  h.keyCount = in[16];
  h.defectFlag = in[kDefectFlagOffset];
  return h;
}

DataHeaderFault InspectDataHeader(const DataHeader& h, int32_t recordLength, uint64_t fileSize) {
  if (h.slotLength != recordLength) return DataHeaderFault::kSlotLength;
  if (h.defectFlag != 0) return DataHeaderFault::kDefect;
  if (h.highestSlot < 0) return DataHeaderFault::kSlotCount;
  // In 64 bits: a slot count near 2^31 times a slot length is far beyond 32.
  const uint64_t promised = (static_cast<uint64_t>(h.highestSlot) + 1) * static_cast<uint64_t>(h.slotLength);
  if (h.slotLength > 0 && fileSize < promised) return DataHeaderFault::kCutShort;
  return DataHeaderFault::kNone;
}

void EncodeDataHeader(const DataHeader& h, uint8_t* out) {
  PutI32(out, h.freeHead);
  PutI32(out + 4, h.freeCount);
  PutI32(out + 8, h.highestSlot);
  PutI32(out + 12, h.slotLength);
  PutI32(out + 16, h.keyCount);
  out[kDefectFlagOffset] = 0;
}

KeyHeader DecodeKeyHeader(const uint8_t* in) {
  KeyHeader h;
  h.freeHead = GetI32(in);
  h.freeCount = GetI32(in + 4);
  h.highestPage = GetI32(in + 8);
  h.sectionLength = GetI32(in + 12);
  h.rootPage = GetI32(in + 16);
  h.allowDuplicates = in[20];
  h.entryCount = GetI32(in + 22);
  h.storedPageSize = GetI16(in + 26);
  return h;
}

void EncodeKeyHeader(const KeyHeader& h, uint8_t* out) {
  PutI32(out, h.freeHead);
  PutI32(out + 4, h.freeCount);
  PutI32(out + 8, h.highestPage);
  PutI32(out + 12, h.sectionLength);
  PutI32(out + 16, h.rootPage);
  out[20] = h.allowDuplicates;
  out[21] = 0;
  PutI32(out + 22, h.entryCount);
  PutI16(out + 26, h.storedPageSize);
}

EngineError DeriveKeyLength(const KeyHeader& header, int& keyLength) {
  const int pageSize = header.PageSize();
  // A negative stored size would divide by a negative number below; such a header is
  // no more usable than one that is too large.
  if (pageSize >= 63 || pageSize < 1) return EngineError::kPageSizeTooSmall;
  const int64_t g = (static_cast<int64_t>(header.sectionLength) * 10000 - 60000) / pageSize;
  const int64_t h = g - 90000;
  if (h % 10000 != 0) return EngineError::kPageSizeMismatch;
  if (h > 1000000 || h < 10000) return EngineError::kKeyLengthTooSmall;
  keyLength = static_cast<int>(h / 10000);
  return EngineError::kNone;
}

int32_t ExpandedPage::Record(int j) const { return GetI32(Item(j)); }

int32_t ExpandedPage::Child(int j) const { return j == 0 ? leftmost : GetI32(Item(j) + 4); }

std::string_view ExpandedPage::Text(int j) const {
  const uint8_t* item = Item(j);
  return {reinterpret_cast<const char*>(item + 9), item[8]};
}

bool ExpandPage(const uint8_t* in, size_t available, int keyLength, int pageSize,
                ExpandedPage& out) {
  if (available < kPageHeaderSize) return false;
  const int16_t count = GetI16(in);
  if (count < 0 || count > pageSize || count > kMaxPageItems) return false;
  if (available < CompactPageSize(count, keyLength)) return false;
  out.count = count;
  out.leftmost = GetI32(in + 2);
  const size_t width = static_cast<size_t>(keyLength) + kItemFixedPart;
  const uint8_t* src = in + kPageHeaderSize;
  for (int j = 1; j <= count; ++j, src += width) {
    if (src[8] > keyLength) return false;
    uint8_t* dst = out.Item(j);
    std::memcpy(dst, src, width);
    std::memset(dst + width, 0, kExpandedItemSize - width);
  }
  return true;
}

void CompactPage(const ExpandedPage& page, int keyLength, uint8_t* out) {
  PutI16(out, page.count);
  PutI32(out + 2, page.leftmost);
  const size_t width = static_cast<size_t>(keyLength) + kItemFixedPart;
  uint8_t* dst = out + kPageHeaderSize;
  for (int j = 1; j <= page.count; ++j, dst += width) std::memcpy(dst, page.Item(j), width);
}

}  // namespace kv::isam
