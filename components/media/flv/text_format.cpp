#include "media/flv/text_format.h"

#include <cmath>
#include <cstdio>

namespace flv_reader {

std::string FormatClock(int64_t ms) {
  // The magnitude in unsigned arithmetic: any int64_t, INT64_MIN included.
  const uint64_t magnitude = ms < 0 ? 0 - static_cast<uint64_t>(ms) : static_cast<uint64_t>(ms);
  char text[64];
  if (magnitude < 3600000) {
    const uint64_t tenths = (magnitude + 50) / 100;
    std::snprintf(text, sizeof text, "%s%llu:%02llu.%llu", ms < 0 ? "-" : "",
                  static_cast<unsigned long long>(tenths / 600),
                  static_cast<unsigned long long>(tenths / 10 % 60),
                  static_cast<unsigned long long>(tenths % 10));
  } else {
    const uint64_t seconds = magnitude / 1000 + (magnitude % 1000 >= 500 ? 1 : 0);
    std::snprintf(text, sizeof text, "%s%llu:%02llu:%02llu", ms < 0 ? "-" : "",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
  }
  return text;
}

std::string FormatLength(int64_t ms) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f s", static_cast<double>(ms) / 1000);
  if (ms < 60000) return text;
  return std::string(text) + " (" + FormatClock(ms) + ")";
}

std::string FormatBytes(int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string Counted(int64_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

std::string FormatClaim(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "infinity" : "minus infinity";
  char text[64];
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    std::snprintf(text, sizeof text, "%.0f", value);
  } else {
    std::snprintf(text, sizeof text, "%.6g", value);
  }
  return text;
}

int64_t ClampedRound(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9.2e18) return INT64_MAX;
  if (value <= -9.2e18) return INT64_MIN;
  return static_cast<int64_t>(std::llround(value));
}

}  // namespace flv_reader
