#include "app/JsonLine.h"

#include <nlohmann/json.hpp>

namespace kv::app {

struct JsonLine::Impl {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
};

JsonLine::JsonLine(std::string_view type, std::string_view company) : impl_(std::make_unique<Impl>()) {
  Text("type", type);
  if (!company.empty()) Text("company", company);
}

JsonLine::~JsonLine() = default;

JsonLine& JsonLine::Text(std::string_view key, std::string_view utf8) {
  impl_->object[std::string(key)] = std::string(utf8);
  return *this;
}

JsonLine& JsonLine::Number(std::string_view key, int64_t value) {
  impl_->object[std::string(key)] = value;
  return *this;
}

JsonLine& JsonLine::Flag(std::string_view key, bool value) {
  impl_->object[std::string(key)] = value;
  return *this;
}

JsonLine& JsonLine::Null(std::string_view key) {
  impl_->object[std::string(key)] = nullptr;
  return *this;
}

std::string JsonLine::Dump() const {
  return impl_->object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace kv::app
