#include "core/timestamp.h"

namespace tavik::core {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// Milliseconds from 1582-10-15 (the origin of UUID time) to 1970-01-01.
constexpr int64_t kGregorianToUnixMs = 12219292800000;
constexpr std::array<char, 5> kBucketVowels = {'A', 'E', 'I', 'O', 'U'};

uint64_t read_be(const uint8_t* bytes, size_t len) {
  uint64_t v = 0;
  for (size_t i = 0; i < len; ++i) { v = (v << 8) | bytes[i]; }
  return v;
}

int64_t unit_length_ms(Granularity granularity) {
  switch (granularity) {
    case Granularity::kSecond: return 1000;
    case Granularity::kMinute: return 60000;
    case Granularity::kHour: return 3600000;
    case Granularity::kDay: return kMsPerDay;
    case Granularity::kWeek: return 7 * kMsPerDay;
    case Granularity::kMonth: return 0;
  }
  return 0;
}

struct YearMonth {
  int64_t year;
  int64_t month;  // 1..12
};

// Proleptic Gregorian year and month of a day number counted from 1970-01-01, in constant
// time (the era arithmetic of the 400-year cycle). A negative day number counts as January
// 1970. The same months as walking year by year and month by month.
YearMonth year_month_of_day(int64_t day) {
  if (day < 0) { return {1970, 1}; }
  const int64_t z = day + 719468;  // days since 0000-03-01
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;                                  // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);           // [0, 365]
  const int64_t mp = (5 * doy + 2) / 153;                                // [0, 11], March = 0
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month};
}

}  // namespace

std::optional<int64_t> detect_timestamp(const uint8_t block[16]) {
  const uint8_t version = block[6] >> 4;
  if (version == 7) { return static_cast<int64_t>(read_be(block, 6)); }
  if (version != 1 && version != 6) { return std::nullopt; }
  const uint64_t low12 = read_be(block + 6, 2) & 0x0FFF;
  uint64_t ticks = 0;
  if (version == 1) {
    const uint64_t time_low = read_be(block, 4);
    const uint64_t time_mid = read_be(block + 4, 2);
    ticks = (low12 << 48) | (time_mid << 32) | time_low;
  } else {
    const uint64_t time_high = read_be(block, 4);
    const uint64_t time_mid = read_be(block + 4, 2);
    ticks = (time_high << 28) | (time_mid << 12) | low12;
  }
  return static_cast<int64_t>(ticks / 10000) - kGregorianToUnixMs;
}

int64_t elapsed_units(int64_t t_ms, int64_t epoch_ms, Granularity granularity) {
  if (granularity == Granularity::kMonth) {
    const YearMonth t = year_month_of_day(t_ms / kMsPerDay);
    const YearMonth e = year_month_of_day(epoch_ms / kMsPerDay);
    return (t.year - e.year) * 12 + (t.month - e.month);
  }
  // The difference of two signed 64-bit values needs 65 bits; the quotient by a unit of at
  // least a second fits 64 again. Division truncates toward zero.
  __extension__ typedef __int128 Wide;
  const Wide diff = Wide{t_ms} - Wide{epoch_ms};
  return static_cast<int64_t>(diff / unit_length_ms(granularity));
}

std::array<char, kPrefixLen> prefix_text(int64_t t_ms, int64_t epoch_ms,
                                         Granularity granularity) {
  const int64_t units = elapsed_units(t_ms, epoch_ms, granularity);
  const uint64_t h = units > 0 ? static_cast<uint64_t>(units) : 0;
  return {'B', kBucketVowels[(h / 5) % 5], '-', 'D', kBucketVowels[h % 5]};
}

}  // namespace tavik::core
