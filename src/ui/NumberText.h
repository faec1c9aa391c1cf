// Number and money texts of messages and dialogs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::ui {

inline constexpr int kMoneyDecimals = 2;

std::string IntToText(int64_t n);
std::string ExtendedToText(int decimals, long double x);
long double TextToExtended(std::string_view text);
void RoundToDecimals(long double& x, int decimals);
std::string MoneyText(int width, long double x);
std::string MoneyTextTrim(long double x);
std::string WholeMoneyText(int width, long double x);

}  // namespace kv::ui
