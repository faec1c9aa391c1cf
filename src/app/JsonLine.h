// One object of JSON Lines output (check --json, scan --json, repair --json,
// undo --json): fields in the order they are added, written on one line. Texts are
// UTF-8; a byte sequence that is not is written with U+FFFD in its place, so a hostile
// file name never breaks a line a script reads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kv::app {

class JsonLine {
 public:
  // {"type":<type>} and, when `company` (UTF-8) is not empty, "company" after it.
  explicit JsonLine(std::string_view type, std::string_view company = {});
  ~JsonLine();
  JsonLine(const JsonLine&) = delete;
  JsonLine& operator=(const JsonLine&) = delete;

  JsonLine& Text(std::string_view key, std::string_view utf8);
  JsonLine& Number(std::string_view key, int64_t value);
  JsonLine& Flag(std::string_view key, bool value);
  JsonLine& Null(std::string_view key);

  // The object on one line, without the line end.
  std::string Dump() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv::app
