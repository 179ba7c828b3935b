#include "core/decode.h"

#include <cstring>

#include "base/secure_wipe.h"
#include "core/check.h"
#include "core/render.h"

namespace tavik::core {

Bytes16 cut_to_width(const CodecConfig& config, U128 plain) {
  // Only the width's mask: the domain's largest value is not needed here.
  Bytes16 bytes;
  (plain & U128::low_mask(config.bit_width)).to_be_bytes(bytes.data());
  return bytes;
}

namespace {

// CheckBlockWriter lays out the check block of data units when the cipher asks for it, from
// the letters normalize read where it handed them out, and remembers whether the text fitted
// the block.
class CheckBlockWriter final : public fpe::BlockWriter {
 public:
  CheckBlockWriter(std::span<const uint8_t> data_units, const DataText& data_text)
      : data_units_(data_units), data_text_(data_text) {}
  void operator()(uint8_t block[fpe::kSha256BlockLen]) const override {
    if (data_text_.len != DataText::kNotWritten) {
      std::memcpy(block, data_text_.bytes, fpe::kSha256BlockLen);
    }
    fits_ = data_units_.size() <= kMaxDataUnits &&
            layout_check_block({.bytes = block, .len = data_text_.len}, data_units_, block);
  }
  bool fits() const { return fits_; }

 private:
  std::span<const uint8_t> data_units_;
  const DataText& data_text_;
  mutable bool fits_ = false;
};

// CheckFilter lets a cycle walk go on only for a word whose keyed check passes.
class CheckFilter final : public fpe::MacFilter {
 public:
  explicit CheckFilter(std::span<const uint8_t> received) : received_(received) {}
  bool operator()(const uint32_t mac[8]) const override {
    return keyed_check_matches(mac, received_);
  }

 private:
  std::span<const uint8_t> received_;
};

}  // namespace

Result<Bytes16> decoded_value(const CodecConfig& config, U128 plain) {
  const ValueEnd end(config);
  if (!end.in_domain(plain)) { return kCheckFailed; }
  Bytes16 bytes;
  end.write(plain, bytes);
  return bytes;
}

const Error* read_word(const CodecConfig& config, const CodeUnits& text, NormalizedInput* input,
                       U128* value, DataText* data_text) {
  return WordReader(config).read(text, input, value, data_text);
}

const Error* read_keyed_word(const CodecConfig& config, const CodeUnits& text,
                             NormalizedInput* input,
                             uint8_t block[fpe::kSha256BlockLen], U128* value) {
  return WordReader(config).read_keyed(text, input, block, value);
}

bool units_in_domain(const CodecConfig& config, std::span<const uint8_t> data_units,
                     U128* value) {
  U128 spelled;
  if (!units_to_value_checked(data_units, &spelled) || spelled > config.domain.max_value()) {
    return false;
  }
  if (config.domain.kind == fpe::CipherDomain::Kind::kModulus &&
      config.cipher->decrypt(spelled, config.tweak) > config.domain.max_value()) {
    return false;
  }
  if (value != nullptr) { *value = spelled; }
  return true;
}

Bytes16 finish_value(const CodecConfig& config, U128 value) {
  return cut_to_width(config, config.cipher->decrypt(value, config.tweak));
}

Result<Bytes16> decode_text(const CodecConfig& config, CodeUnits text) {
  NormalizedInput input;
  // The letters of the data units, for the check, where normalize hands them out.
  uint8_t letters[fpe::kSha256BlockLen];
  DataText data_text{.bytes = letters, .at_end = config.mode == Mode::kPlain};
  U128 value;
  if (const Error* failure = read_word(config, text, &input, &value, &data_text)) {
    return *failure;
  }
  return decode_read_word(config, input, value, data_text);
}

Result<Bytes16> decode_read_word(const CodecConfig& config, const NormalizedInput& input,
                                 U128 value, const DataText& data_text) {
  if (config.mode == Mode::kPlain) {
    bool ok = false;
    if (data_text.at_end && data_text.len != DataText::kNotWritten) {
      std::array<uint16_t, kMaxCheckSyllables> expected;
      plain_check_digits_of_text(data_text.bytes, data_text.len, config.check_syllables,
                                 expected.data());
      ok = plain_check_matches(expected, input.check());
    } else {
      ok = verify_check(config.mode, nullptr, input.data(), input.check());
    }
    if (!ok) { return kCheckFailed; }
    return decoded_value(config, config.cipher->decrypt(value, config.tweak));
  }
  // The keyed check digest and the cipher are independent: the check block is laid out while
  // the cipher's first round runs, the digest runs alongside its second, and the result is
  // kept only if the check passes. A word whose check fails ends its cycle walk after the
  // first pass, so a forged word costs no more than a real one in any domain. (A value below
  // 2^128 spells at most 54 letters: its text fits the block.)
  const CheckBlockWriter block(input.data(), data_text);
  uint32_t mac[8];
  const CheckFilter walk_on(input.check());
  const U128 plain =
      config.cipher->decrypt_with_mac(value, config.tweak, *config.check_key, block, mac, walk_on);
  const bool ok = keyed_check_matches(mac, input.check());
  secure_wipe(mac, sizeof(mac));
  if (!block.fits()) { return kCheckTextTooLong; }
  if (!ok) { return kCheckFailed; }
  return decoded_value(config, plain);
}

}  // namespace tavik::core
