// Fuzz target: normalization, decode and recovery of arbitrary text under a configuration the
// input chooses (level, mode, key, width or modulus, check count). Half of the inputs edit a
// real code word instead of giving raw text, so the checks and the recovery search are reached
// as well as the parser.
//
// Properties: no error but the documented ones; what decode accepts, recover accepts with the
// same bytes; whatever decode or recover returns encodes to a word that decodes back to it.

#include <algorithm>
#include <cstring>
#include <string>

#include "core/encode.h"
#include "core/normalize.h"
#include "core/recover.h"
#include "core/render.h"
#include "tests/fuzz/fuzz_config.h"

namespace tavik::fuzz {
namespace {

using core::kRecoveryNotSupported;

bool is_unit(uint8_t unit) {
  if ((unit & core::kNucleusFlag) != 0) { return (unit & 0x7F) < core::kNumNuclei; }
  return unit < core::kNumOnsets;
}

// Normalization with window sizes the input picks, the largest allowed and beyond.
void check_normalize(uint8_t level, std::string_view text, size_t num_data, size_t num_check) {
  core::NormalizedInput out;
  const bool ok = core::normalize(level, text, num_data, num_check, &out);
  if (num_data > core::kMaxDataUnits || num_check > core::kMaxCheckUnits) {
    TAVIK_REQUIRE(!ok);
    return;
  }
  if (ok) {
    TAVIK_REQUIRE(out.num_data_units == num_data && out.num_check_units == num_check);
    for (uint8_t unit : out.data()) { TAVIK_REQUIRE(is_unit(unit)); }
    for (uint8_t unit : out.check()) { TAVIK_REQUIRE(is_unit(unit)); }
  }
  // Read four at a time (as the bulk decodes read), the text and pieces of it give what each
  // gives alone.
  const std::string texts[4] = {std::string(text), std::string(text.substr(text.size() / 2)),
                                std::string(text.substr(0, 64)), std::string(text) + "ma"};
  const core::CodeUnits units[4] = {texts[0], texts[1], texts[2], texts[3]};
  core::NormalizedInput four[4];
  const core::CodeUnits* const group[4] = {&units[0], &units[1], &units[2], &units[3]};
  core::NormalizedInput* const outs[4] = {&four[0], &four[1], &four[2], &four[3]};
  uint8_t bytes[4][64] = {};
  core::DataText data_texts[4] = {{.bytes = bytes[0]}, {.bytes = bytes[1], .at_end = true},
                                  {.bytes = bytes[2]}, {.bytes = bytes[3], .at_end = true}};
  core::DataText* const data_text_of[4] = {&data_texts[0], &data_texts[1], &data_texts[2],
                                           &data_texts[3]};
  bool four_ok[4];
  core::normalize_four(level, group, num_data, num_check, outs, data_text_of, four_ok);
  for (size_t w = 0; w < 4; ++w) {
    core::NormalizedInput alone;
    const bool alone_ok = core::normalize(level, units[w], num_data, num_check, &alone);
    TAVIK_REQUIRE(four_ok[w] == alone_ok);
    if (alone_ok) {
      TAVIK_REQUIRE(std::ranges::equal(four[w].data(), alone.data()) &&
                    std::ranges::equal(four[w].check(), alone.check()));
    }
  }
}

// Bytes that decode or recover returned encode to a word that decodes to them. They hold the
// value in their last ceil(w/8) bytes, which is what encode takes when given just those.
void require_round_trip(const CodecConfig& config, const Bytes16& bytes) {
  const size_t num_bytes = (config.bit_width + 7) / 8;
  const Result<core::EncodedText> word =
      core::encode(config, std::span(bytes).subspan(16 - num_bytes));
  TAVIK_REQUIRE(word.ok());
  const Result<core::Bytes16> again = core::decode_text(config, word.value().view());
  TAVIK_REQUIRE(again.ok() && again.value() == bytes);
}

void check_decode(const CodecConfig& config, std::string_view text) {
  const Result<core::Bytes16> decoded = core::decode_text(config, text);
  const Result<Bytes16> recovered = core::recover_text(config, text);
  if (!recovered.ok()) {
    // Never an internal error, and never "failed to decode after recovery": recover's own
    // check is decode's check.
    TAVIK_REQUIRE(recovered.error().code == ErrorCode::kValue);
  }
  if (config.mode == core::Mode::kPlain) {
    TAVIK_REQUIRE(!recovered.ok() &&
                  recovered.error().message ==
                      core::kRecoveryNotSupported.message);
  }
  if (decoded.ok()) {
    TAVIK_REQUIRE(config.mode == core::Mode::kPlain ||
                  (recovered.ok() && recovered.value() == decoded.value()));
    require_round_trip(config, decoded.value());
  } else {
    TAVIK_REQUIRE(decoded.error() != kRecoveryNotSupported);
    if (recovered.ok()) { require_round_trip(config, recovered.value()); }
  }
}

// A code word of a value the input gives, with up to three edits: a byte replaced, removed
// or inserted, or a letter's case flipped.
std::string edited_word(FuzzedDataProvider& in, const CodecConfig& config) {
  uint8_t value[16];
  for (uint8_t& b : value) { b = in.ConsumeIntegral<uint8_t>(); }
  const Result<core::EncodedText> word = core::encode(config, value);
  if (!word.ok()) {
    TAVIK_REQUIRE(word.error().code == ErrorCode::kValue && has_modulus(config));
    return {};
  }
  std::string text(word.value().view());
  const int num_edits = in.ConsumeIntegralInRange(0, 3);
  for (int i = 0; i < num_edits && !text.empty(); ++i) {
    const size_t pos = in.ConsumeIntegralInRange<size_t>(0, text.size() - 1);
    const char byte = static_cast<char>(in.ConsumeIntegral<uint8_t>());
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0: text[pos] = byte; break;
      case 1: text.erase(pos, 1); break;
      case 2: text.insert(pos, 1, byte); break;
      case 3: text[pos] = static_cast<char>(text[pos] ^ 0x20); break;
    }
  }
  return text;
}

}  // namespace
}  // namespace tavik::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavik::fuzz;
  FuzzedDataProvider in(data, size);
  const std::optional<CodecConfig> config = consume_config(in, ConfigChoice{});
  if (!config) { return 0; }
  const size_t num_data = in.ConsumeIntegralInRange<size_t>(0, tavik::core::kMaxDataUnits + 2);
  const size_t num_check = in.ConsumeIntegralInRange<size_t>(0, tavik::core::kMaxCheckUnits + 2);
  const std::string text =
      in.ConsumeBool() ? edited_word(in, *config) : in.ConsumeRemainingBytesAsString();
  check_normalize(static_cast<uint8_t>(config->level), text, num_data, num_check);
  check_decode(*config, text);
  return 0;
}
