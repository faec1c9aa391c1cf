// Local wall-clock time, for names and lines that carry the time of day.
#pragma once

namespace kv::platform {

struct LocalTime {
  int year;    // Gregorian, e.g. 2026
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..60
};

LocalTime NowLocal();

}  // namespace kv::platform
