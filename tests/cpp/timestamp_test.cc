#include "core/timestamp.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace tavik::core {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kDay = 86400000;
constexpr std::array<Granularity, 5> kFixedUnits = {Granularity::kSecond, Granularity::kMinute,
                                                    Granularity::kHour, Granularity::kDay,
                                                    Granularity::kWeek};
constexpr std::array<int64_t, 5> kUnitMs = {1000, 60000, 3600000, kDay, 7 * kDay};

// block reads 32 hex digits (dashes ignored) into a 16-byte value block.
std::array<uint8_t, 16> block(std::string hex) {
  std::erase(hex, '-');
  std::array<uint8_t, 16> out{};
  for (size_t i = 0; i < 16; ++i) {
    out[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  }
  return out;
}

std::optional<int64_t> detect(const std::string& hex) {
  return detect_timestamp(block(hex).data());
}

std::string prefix(int64_t t, int64_t epoch, Granularity g) {
  const std::array<char, kPrefixLen> p = prefix_text(t, epoch, g);
  return std::string(p.begin(), p.end());
}

bool is_leap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Year and month of a day number by walking whole years, then months; 400-year cycles
// (146097 days) are skipped in one step so that far days stay cheap.
std::pair<int64_t, int64_t> walk_year_month(int64_t day) {
  if (day < 0) { return {1970, 1}; }
  int64_t year = 1970 + 400 * (day / 146097);
  day %= 146097;
  while (day >= (is_leap(year) ? 366 : 365)) {
    day -= is_leap(year) ? 366 : 365;
    ++year;
  }
  const std::array<int64_t, 12> lengths = {
      31, is_leap(year) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int64_t month = 1;
  while (day >= lengths[static_cast<size_t>(month - 1)]) {
    day -= lengths[static_cast<size_t>(month - 1)];
    ++month;
  }
  return {year, month};
}

int64_t reference_months(int64_t t, int64_t epoch) {
  const auto [ty, tm] = walk_year_month(t / kDay);
  const auto [ey, em] = walk_year_month(epoch / kDay);
  return (ty - ey) * 12 + (tm - em);
}

TEST(DetectTimestamp, SameInstantInEveryVersion) {
  const int64_t expected = 1700807049216;  // 2023-11-24T06:24:09.216Z
  EXPECT_EQ(detect("018C0000000070000000000000000000"), expected);
  EXPECT_EQ(detect("1EE8A921381460000000000000000000"), expected);
  EXPECT_EQ(detect("138140008A9211EE0000000000000000"), expected);
  EXPECT_EQ(prefix(expected, kDefaultEpochMs, Granularity::kMonth), "BA-DA");
  EXPECT_EQ(prefix(expected, kDefaultEpochMs, Granularity::kDay), "BE-DU");
  EXPECT_EQ(elapsed_units(expected, kDefaultEpochMs, Granularity::kDay), 9);

  // The example UUIDs of the UUID standard: 2022-02-22T19:22:22Z.
  const int64_t rfc = 1645557742000;
  EXPECT_EQ(detect("C232AB00-9414-11EC-B3C8-9F6BDECED846"), rfc);
  EXPECT_EQ(detect("1EC9414C-232A-6B00-B3C8-9F6BDECED846"), rfc);
  EXPECT_EQ(detect("017F22E2-79B0-7CC3-98C4-DC0C0C07398F"), rfc);
}

TEST(DetectTimestamp, OnlyVersionsOneSixAndSeven) {
  for (uint8_t version = 0; version < 16; ++version) {
    std::array<uint8_t, 16> b = block("017F22E2-79B0-7CC3-98C4-DC0C0C07398F");
    b[6] = static_cast<uint8_t>((version << 4) | (b[6] & 0x0F));
    const bool dated = version == 1 || version == 6 || version == 7;
    EXPECT_EQ(detect_timestamp(b.data()).has_value(), dated) << int{version};
  }
  // Zero fill in byte 6 (input of fewer than 10 bytes): nothing.
  EXPECT_FALSE(detect("00000000000000000000FFFFFFFFFFFF").has_value());
  // Extremes of each field: the largest 48-bit time, and version 1 ticks before 1970.
  EXPECT_EQ(detect("FFFFFFFFFFFF70000000000000000000"), int64_t{0xFFFFFFFFFFFF});
  EXPECT_EQ(detect("00000000000010000000000000000000"), -12219292800000);
  EXPECT_EQ(detect("FFFFFFFFFFFF6FFF0000000000000000"),
            static_cast<int64_t>((uint64_t{1} << 60) - 1) / 10000 - 12219292800000);
}

TEST(PrefixText, BucketsCountWholeUnitsFromTheEpoch) {
  const int64_t epoch = kDefaultEpochMs;
  for (size_t g = 0; g < kFixedUnits.size(); ++g) {
    EXPECT_EQ(prefix(epoch, epoch, kFixedUnits[g]), "BA-DA");
    EXPECT_EQ(prefix(epoch + kUnitMs[g], epoch, kFixedUnits[g]), "BA-DE");
    EXPECT_EQ(prefix(epoch + kUnitMs[g] - 1, epoch, kFixedUnits[g]), "BA-DA");
    // Before the epoch, by less or more than one unit: bucket 0.
    EXPECT_EQ(prefix(epoch - 1, epoch, kFixedUnits[g]), "BA-DA");
    EXPECT_EQ(prefix(epoch - 30 * kUnitMs[g], epoch, kFixedUnits[g]), "BA-DA");
  }
  EXPECT_EQ(prefix(epoch, epoch, Granularity::kMonth), "BA-DA");
  EXPECT_EQ(prefix(epoch + 31 * kDay, epoch, Granularity::kMonth), "BA-DE");
  EXPECT_EQ(prefix(epoch - 365 * kDay, epoch, Granularity::kMonth), "BA-DA");

  // Seconds: 5 later moves the first vowel one step, 25 later wraps to the same prefix.
  const int64_t t0 = epoch + 3000;
  EXPECT_EQ(prefix(t0, epoch, Granularity::kSecond), "BA-DO");
  EXPECT_EQ(prefix(t0 + 5000, epoch, Granularity::kSecond), "BE-DO");
  EXPECT_EQ(prefix(t0 + 25000, epoch, Granularity::kSecond), "BA-DO");
  EXPECT_EQ(prefix(epoch + 24000, epoch, Granularity::kSecond), "BU-DU");

  // December 2023 to January 2024 is one month, even one millisecond apart.
  const int64_t last_of_2023 = 1704067199999;
  EXPECT_EQ(elapsed_units(last_of_2023 + 1, last_of_2023, Granularity::kMonth), 1);
  EXPECT_EQ(prefix(last_of_2023 + 1, last_of_2023, Granularity::kMonth), "BA-DE");
  EXPECT_EQ(elapsed_units(last_of_2023, last_of_2023 + 1, Granularity::kMonth), -1);
}

TEST(ElapsedUnits, MonthsBefore1970CountAsJanuary1970) {
  const int64_t march_1970 = 59 * kDay;
  for (int64_t t : {int64_t{-1}, -kDay, -kDay - 1, -5 * kDay, -400 * 365 * kDay, kMin}) {
    EXPECT_EQ(elapsed_units(t, 0, Granularity::kMonth), 0) << t;
    EXPECT_EQ(elapsed_units(t, march_1970, Granularity::kMonth), -2) << t;
    EXPECT_EQ(elapsed_units(march_1970, t, Granularity::kMonth), 2) << t;
  }
}

TEST(ElapsedUnits, FixedUnitsExactOverTheWholeRange) {
  __extension__ typedef __int128 Wide;
  std::vector<std::pair<int64_t, int64_t>> pairs = {
      {kMin, kMax},     {kMax, kMin},     {kMin, kMin}, {kMax, kMax}, {0, kMin},  {kMin, 0},
      {kMax, 0},        {0, kMax},        {kMax, -1},   {-1, kMax},   {kMin, 1},  {1, kMin},
      {kMax, kMin + 1}, {kMin + 1, kMax}, {-999, 0},    {999, 0},     {-1000, 0}, {1000, 0}};
  std::mt19937_64 rng(11);
  for (int i = 0; i < 2000; ++i) {
    pairs.emplace_back(static_cast<int64_t>(rng()), static_cast<int64_t>(rng()));
  }
  for (size_t g = 0; g < kFixedUnits.size(); ++g) {
    for (const auto& [t, e] : pairs) {
      const Wide expected = (Wide{t} - Wide{e}) / kUnitMs[g];  // truncates toward zero
      ASSERT_EQ(Wide{elapsed_units(t, e, kFixedUnits[g])}, expected)
          << "t " << t << " e " << e << " unit " << kUnitMs[g];
    }
  }
}

TEST(ElapsedUnits, MonthsMatchAYearByYearWalk) {
  std::mt19937_64 rng(13);
  const int64_t max_day = 3000000;  // about 8200 years
  for (int i = 0; i < 3000; ++i) {
    const int64_t t = static_cast<int64_t>(rng() % (2 * max_day)) * kDay - max_day * kDay +
                      static_cast<int64_t>(rng() % kDay);
    const int64_t e =
        static_cast<int64_t>(rng() % max_day) * kDay + static_cast<int64_t>(rng() % kDay);
    ASSERT_EQ(elapsed_units(t, e, Granularity::kMonth), reference_months(t, e))
        << "t " << t << " e " << e;
  }
  // Month ends and leap days around a few years, day by day.
  for (int64_t day = 0; day < 3 * 146097; day += 1) {
    if (day % 97 != 0 && day % 1461 > 3) { continue; }
    const int64_t t = day * kDay;
    ASSERT_EQ(elapsed_units(t, 0, Granularity::kMonth), reference_months(t, 0)) << day;
  }
}

TEST(ElapsedUnits, MonthsAtTheEndsOfTheRange) {
  // INT64_MAX ms is 292278994-08-17T07:12:55.807Z.
  const int64_t months_to_max = (292278994 - 1970) * int64_t{12} + 7;
  // Answered by arithmetic, not by walking a quarter of a billion years.
  const auto start = std::chrono::steady_clock::now();
  const std::array<int64_t, 4> ends = {elapsed_units(kMax, 0, Granularity::kMonth),
                                       elapsed_units(kMax, kMin, Granularity::kMonth),
                                       elapsed_units(kMin, kMax, Granularity::kMonth),
                                       elapsed_units(kMax, kMax, Granularity::kMonth)};
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_EQ(ends[0], months_to_max);
  EXPECT_EQ(ends[1], months_to_max);
  EXPECT_EQ(ends[2], -months_to_max);
  EXPECT_EQ(ends[3], 0);
  EXPECT_EQ(reference_months(kMax, 0), months_to_max);
  EXPECT_EQ(elapsed_units(kMax, kMax - 200 * kDay, Granularity::kMonth),
            reference_months(kMax, kMax - 200 * kDay));
  const std::string expected_prefix = {'B', "AEIOU"[(months_to_max / 5) % 5], '-', 'D',
                                       "AEIOU"[months_to_max % 5]};
  EXPECT_EQ(prefix(kMax, kMin, Granularity::kMonth), expected_prefix);
}

}  // namespace
}  // namespace tavik::core
