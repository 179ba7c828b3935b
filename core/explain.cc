#include "core/explain.h"

#include <initializer_list>
#include <string_view>

#include "core/decode.h"
#include "core/keyring.h"
#include "core/recover.h"

namespace tavik::core {

namespace {

// join puts pieces together in one string (appends, rather than a chain of `+`, which GCC 12
// at -O3 takes for overlapping copies).
std::string join(std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (const std::string_view piece : pieces) { text.append(piece); }
  return text;
}

std::string syllables(size_t n) {
  return join({std::to_string(n), n == 1 ? " syllable" : " syllables"});
}

std::string explain_normalization(const CodecConfig& config, CodeUnits text) {
  const size_t num_data = data_syllable_count(config);
  const size_t num_check = config.check_syllables;
  const NormalizeFailure failure =
      diagnose_normalize(static_cast<uint8_t>(config.level), text, 2 * num_data, 2 * num_check);
  switch (failure.kind) {
    case NormalizeFailure::Kind::kNone: return {};
    case NormalizeFailure::Kind::kNoLetter: return "the input holds no ASCII letter";
    case NormalizeFailure::Kind::kLetter: {
      const char letter[] = {'\'', failure.letter, '\''};
      const std::string index = std::to_string(failure.index);
      if (failure.onset_expected) {
        return join({{letter, 3}, " at index ", index, " cannot begin a syllable of level ",
                     level_name(config.level)});
      }
      return join({{letter, 3}, " at index ", index,
                   " stands where a vowel (a, e, i, o or u) must follow the onset before it"});
    }
    case NormalizeFailure::Kind::kTooShort:
      return join({"found ", syllables(failure.num_units / 2),
                   failure.num_units % 2 != 0 ? " and an onset without its vowel" : "",
                   ", expected ", syllables(num_data + num_check), " (",
                   std::to_string(num_data), " data and ", std::to_string(num_check),
                   " check): a syllable may be missing, or the word was written with another "
                   "bit_width or number of check syllables"});
  }
  return {};
}

}  // namespace

std::string explain_read_failure(const CodecConfig& config, CodeUnits text, const Error& error,
                                 size_t num_keys) {
  if (error == kNormalizationFailed) { return explain_normalization(config, text); }
  if (error == kCheckFailed) {
    const std::string where =
        num_keys > 1 ? join({"the check syllables match under none of the ",
                             std::to_string(num_keys), " keys"})
                     : std::string("the check syllables do not match");
    return join({where,
                 ": the usual causes are a wrong key, settings other than those the word was "
                 "written with, or a typo; recover() corrects one confused sound"});
  }
  if (error == kUnrecoverable) {
    return "no single confused sound explains the word: the usual causes are a wrong key, "
           "settings other than those the word was written with, or more than one typo";
  }
  if (error == kAmbiguousKey) {
    return "with two or more check syllables (with_check_syllables) a word almost never passes "
           "under a second key";
  }
  return {};
}

}  // namespace tavik::core
