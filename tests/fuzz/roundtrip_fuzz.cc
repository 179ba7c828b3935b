// Fuzz target: encode, then decode and recover, under any configuration the builders can make
// (level, mode, key, width or modulus, check count, cipher, case, separator, chunking, epoch and
// granularity) and any input bytes.
//
// Properties: in a modulus domain encode refuses the values not below the modulus, with a
// ValueError, and may refuse a value whose cycle walk cannot come back into the domain (only
// with an odd bit count, for values that carry its top bit); every other input gives a word
// that decode and recover read back as the input cut to the width; the word is UTF-8 made of letters of the configured case, the
// separator and, in mode open, the time prefix.

#include <string>
#include <string_view>

#include "core/encode.h"
#include "core/recover.h"
#include "tests/fuzz/fuzz_config.h"

namespace tavik::fuzz {
namespace {

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The word's structure: the prefix "B?-D?" and separator for a time-based UUID in mode open, then
// letters of the configured case separated by whole copies of the separator only.
void check_word(const CodecConfig& config, const Bytes16& block, std::string_view word) {
  char separator_buffer[core::kMaxSeparatorLen];
  const std::string_view separator(
      separator_buffer, core::encode_separator(config.chunk_layout.separator, separator_buffer));
  if (config.mode == core::Mode::kOpen && core::detect_timestamp(block.data())) {
    static constexpr std::string_view kVowels = "AEIOU";
    TAVIK_REQUIRE(word.size() >= core::kPrefixLen && word.substr(0, 1) == "B" &&
                  kVowels.find(word[1]) != std::string_view::npos && word.substr(2, 2) == "-D" &&
                  kVowels.find(word[4]) != std::string_view::npos);
    word.remove_prefix(core::kPrefixLen);
    TAVIK_REQUIRE(word.substr(0, separator.size()) == separator);
    word.remove_prefix(separator.size());
  }
  const bool upper = config.letter_case == core::LetterCase::kUpper;
  size_t num_letters = 0;
  while (!word.empty()) {
    if (is_ascii_letter(word[0])) {
      TAVIK_REQUIRE(upper ? (word[0] >= 'A' && word[0] <= 'Z')
                          : (word[0] >= 'a' && word[0] <= 'z'));
      ++num_letters;
      word.remove_prefix(1);
      continue;
    }
    TAVIK_REQUIRE(!separator.empty() && word.substr(0, separator.size()) == separator);
    word.remove_prefix(separator.size());
  }
  const size_t num_syllables = core::data_syllable_count(config) + config.check_syllables;
  TAVIK_REQUIRE(num_letters >= 2 * num_syllables && num_letters <= 4 * num_syllables);
}

}  // namespace
}  // namespace tavik::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavik::fuzz;
  namespace core = tavik::core;
  FuzzedDataProvider in(data, size);
  const std::optional<CodecConfig> config = consume_config(in, ConfigChoice{.full = true});
  if (!config) { return 0; }
  const std::string input = in.ConsumeRemainingBytesAsString();
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(input.data()),
                                       input.size());
  const Bytes16 expected = kept_bytes(*config, bytes);

  const Result<core::EncodedText> word = core::encode(*config, bytes);
  if (has_modulus(*config) && U128::from_be_bytes(expected.data()) >= config->domain.modulus) {
    TAVIK_REQUIRE(!word.ok() && word.error().code == ErrorCode::kValue &&
                  word.error().message == "value must be below the modulus");
    return 0;
  }
  if (!word.ok() && has_modulus(*config) && word.error().code == ErrorCode::kValue &&
      word.error().message == "value cannot be enciphered within the modulus") {
    const uint32_t bits = config->domain.modulus.bit_length();
    const U128 value = U128::from_be_bytes(expected.data());
    TAVIK_REQUIRE(bits % 2 == 1 && ((value >> (bits - 1)) & U128::from_u64(1)) == U128::from_u64(1));
    return 0;
  }
  TAVIK_REQUIRE(word.ok());
  const std::string_view text = word.value().view();
  check_word(*config, selected_block(*config, bytes), text);

  const Result<core::Bytes16> decoded = core::decode_text(*config, text);
  TAVIK_REQUIRE(decoded.ok() && decoded.value() == expected);
  if (config->mode != core::Mode::kPlain) {
    const Result<Bytes16> recovered = core::recover_text(*config, text);
    TAVIK_REQUIRE(recovered.ok() && recovered.value() == expected);
  }
  return 0;
}
