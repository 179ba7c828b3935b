#ifndef TAVIK_CORE_TYPES_H_
#define TAVIK_CORE_TYPES_H_

#include <cstddef>
#include <cstdint>

namespace tavik::core {

// The codes of these enumerations are part of the format: the level and mode codes enter
// the cipher tweak.
enum class Level : uint8_t { kUniversal = 0, kEu = 1, kEn = 2, kNumeric = 3, kKo = 4 };
enum class Mode : uint8_t { kSealed = 0, kOpen = 1, kPlain = 2 };
enum class LetterCase : uint8_t { kUpper = 0, kLower = 1 };
enum class Granularity : uint8_t {
  kSecond = 0,
  kMinute = 1,
  kHour = 2,
  kDay = 3,
  kWeek = 4,
  kMonth = 5
};

inline constexpr size_t kNumLevels = 5;
inline constexpr size_t kMaxDataSyllables = 14;   // syllable_count(128)
inline constexpr size_t kMaxCheckSyllables = 8;   // a SHA-256 digest gives eight
inline constexpr size_t kMaxDataUnits = 2 * kMaxDataSyllables;
inline constexpr size_t kMaxCheckUnits = 2 * kMaxCheckSyllables;

}  // namespace tavik::core

#endif  // TAVIK_CORE_TYPES_H_
