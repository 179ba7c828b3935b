#ifndef TAVIK_TESTS_FUZZ_FUZZ_CONFIG_H_
#define TAVIK_TESTS_FUZZ_FUZZ_CONFIG_H_

// What the fuzz targets share: a configuration read from the fuzz input the way the Python
// surface builds one (constructor, then builders), the bytes a configuration keeps of an
// input, and a check that stops the run on a broken property.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/builders.h"
#include "core/config.h"
#include "core/decode.h"

// TAVIK_REQUIRE aborts with the failed condition; libFuzzer then saves the input.
#define TAVIK_REQUIRE(cond)                                                            \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

namespace tavik::fuzz {

using core::Bytes16;
using core::CodecConfig;
// The base vocabulary, for the entry points outside this namespace.
using tavik::ErrorCode;
using tavik::Result;
using tavik::U128;

// consume_u128 gives values of every size: a random number of low bits of a random value.
inline U128 consume_u128(FuzzedDataProvider& in) {
  const uint32_t bits = in.ConsumeIntegralInRange<uint32_t>(0, 128);
  const uint64_t hi = in.ConsumeIntegral<uint64_t>();
  const uint64_t lo = in.ConsumeIntegral<uint64_t>();
  return U128(hi, lo) & U128::low_mask(bits);
}

// consume_name gives one of the accepted names most of the time, else arbitrary text.
template <size_t N>
std::string consume_name(FuzzedDataProvider& in, const std::string_view (&names)[N]) {
  const size_t pick = in.ConsumeIntegralInRange<size_t>(0, N);
  if (pick < N) { return std::string(names[pick]); }
  return in.ConsumeRandomLengthString(12);
}

// Replaces a record by a builder's result; a refused builder must leave a ValueError only.
inline void apply(CodecConfig& config, Result<CodecConfig>&& next) {
  if (next.ok()) {
    config = std::move(next).value();
  } else {
    TAVIK_REQUIRE(next.error().code == ErrorCode::kValue);
  }
}

struct ConfigChoice {
  bool full = false;  // also case, separator, chunking, timestamp and cipher
};

// consume_config builds a record from the input, or nothing when the constructor refuses
// the input's choices (with a ValueError, as it must).
inline std::optional<CodecConfig> consume_config(FuzzedDataProvider& in, ConfigChoice choice) {
  static constexpr std::string_view kLevels[] = {"universal", "eu", "en", "numeric", "ko"};
  static constexpr std::string_view kModes[] = {"sealed", "open", "plain"};
  static constexpr std::string_view kCases[] = {"upper", "lower"};
  static constexpr std::string_view kGranularities[] = {"second", "minute", "hour",
                                                        "day",    "week",   "month"};
  static constexpr std::string_view kCiphers[] = {"feistel", "feistel8", "shuffle", "shuffle4"};

  const std::string level = consume_name(in, kLevels);
  const std::string mode = consume_name(in, kModes);
  std::optional<std::string> key;
  if (in.ConsumeIntegralInRange<int>(0, 7) != 0) { key = in.ConsumeRandomLengthString(40); }
  const uint32_t width = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 140)
                                          : in.ConsumeIntegral<uint32_t>();
  std::optional<std::span<const uint8_t>> key_bytes;
  if (key) { key_bytes = std::span(reinterpret_cast<const uint8_t*>(key->data()), key->size()); }
  Result<CodecConfig> made = core::construct_config(key_bytes, level, mode, width);
  if (!made.ok()) {
    TAVIK_REQUIRE(made.error().code == ErrorCode::kValue);
    return std::nullopt;
  }
  CodecConfig config = std::move(made).value();

  // The builders, each taken or not, in an order the input does not choose: enough to reach
  // every combination of fields.
  if (in.ConsumeBool()) { config = core::with_bit_width(config, in.ConsumeIntegral<uint32_t>()); }
  if (in.ConsumeBool()) { apply(config, core::with_modulus(config, consume_u128(in))); }
  if (in.ConsumeBool()) {
    config = core::with_check_syllables(config, in.ConsumeBool()
                                                    ? in.ConsumeIntegralInRange<uint64_t>(0, 10)
                                                    : in.ConsumeIntegral<uint64_t>());
  }
  if (!choice.full) { return config; }

  if (in.ConsumeBool()) {
    const std::string kind = consume_name(in, kCiphers);
    std::optional<std::string> cipher_key;
    if (in.ConsumeBool()) { cipher_key = in.ConsumeRandomLengthString(40); }
    std::optional<std::span<const uint8_t>> cipher_key_bytes;
    if (cipher_key) {
      cipher_key_bytes =
          std::span(reinterpret_cast<const uint8_t*>(cipher_key->data()), cipher_key->size());
    }
    apply(config, core::with_cipher(config, kind, cipher_key_bytes));
    // A later domain change rebuilds the chosen cipher.
    if (in.ConsumeBool()) {
      config = core::with_bit_width(config, in.ConsumeIntegralInRange<uint32_t>(0, 140));
    }
  }
  if (in.ConsumeBool()) { apply(config, core::with_case(config, consume_name(in, kCases))); }
  switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: break;
    case 1: apply(config, core::with_separator(config, in.ConsumeRandomLengthString(6))); break;
    case 2: config = core::with_chunk_none(config); break;
    case 3:
      config = core::with_chunk_fixed(
          config, in.ConsumeIntegral<uint64_t>() >> in.ConsumeIntegralInRange(0, 63));
      break;
    case 4: {
      std::vector<uint64_t> pattern(in.ConsumeIntegralInRange<size_t>(0, 20));
      for (uint64_t& size : pattern) {
        size = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint64_t>(0, 15)
                                : in.ConsumeIntegral<uint64_t>();
      }
      config = core::with_chunk_pattern(config, std::move(pattern));
      break;
    }
  }
  if (in.ConsumeBool()) {
    apply(config, core::with_timestamp_config(config, in.ConsumeIntegral<int64_t>(),
                                              consume_name(in, kGranularities)));
  }
  return config;
}

inline bool has_modulus(const CodecConfig& config) {
  return config.domain.kind == fpe::CipherDomain::Kind::kModulus;
}

// selected_block is the block encode reads an input into: ceil(w/8) bytes (the head, or the
// tail with a modulus) right-aligned in 16 bytes, before the cut to the width.
inline Bytes16 selected_block(const CodecConfig& config, std::span<const uint8_t> data) {
  const size_t num_bytes = (config.bit_width + 7) / 8;
  const size_t num_taken = std::min(data.size(), num_bytes);
  Bytes16 block{};
  for (size_t i = 0; i < num_taken; ++i) {
    if (has_modulus(config)) {
      block[16 - num_taken + i] = data[data.size() - num_taken + i];
    } else {
      block[16 - num_bytes + i] = data[i];
    }
  }
  return block;
}

// kept_bytes is what decode must give back for an input that encode accepted.
inline Bytes16 kept_bytes(const CodecConfig& config, std::span<const uint8_t> data) {
  const Bytes16 block = selected_block(config, data);
  Bytes16 out;
  (U128::from_be_bytes(block.data()) & U128::low_mask(config.bit_width)).to_be_bytes(out.data());
  return out;
}

}  // namespace tavik::fuzz

#endif  // TAVIK_TESTS_FUZZ_FUZZ_CONFIG_H_
