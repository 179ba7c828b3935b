#include "core/keyring.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "base/secure_wipe.h"
#include "core/check.h"
#include "core/decode.h"
#include "core/recover.h"
#include "core/settings.h"
#include "fpe/lanes.h"

namespace tavik::core {

namespace {

// kNoKey marks a word that passed under no key; kSeveralKeys one that passed under more than
// one (resolved word by word).
constexpr uint32_t kNoKey = ~uint32_t{0};
constexpr uint32_t kSeveralKeys = kNoKey - 1;

bool same_bytes(const SharedSecret& a, const SharedSecret& b) {
  if ((a == nullptr) != (b == nullptr)) { return false; }
  if (!a) { return true; }
  const auto x = a->bytes();
  const auto y = b->bytes();
  return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin());
}

// kSettingDiffers names each field of the settings text (in the order settings_text writes
// them) by the setting a user chose it with.
constexpr std::pair<std::string_view, Error> kSettingDiffers[] = {
    {"level", value_error("keyring codecs differ in level")},
    {"mode", value_error("keyring codecs differ in mode")},
    {"bits", value_error("keyring codecs differ in bit_width")},
    {"modulus", value_error("keyring codecs differ in modulus")},
    {"cipher", value_error("keyring codecs differ in cipher")},
    {"check", value_error("keyring codecs differ in check_syllables")},
    {"case", value_error("keyring codecs differ in case")},
    {"chunk", value_error("keyring codecs differ in chunk")},
    {"sep", value_error("keyring codecs differ in separator")},
    {"epoch_ms", value_error("keyring codecs differ in epoch_ms")},
    {"granularity", value_error("keyring codecs differ in granularity")},
};

// field_value is the value of a field of a settings text, or an empty view when it has none.
std::string_view field_value(std::string_view text, std::string_view name) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find(' ', at), text.size());
    const std::string_view field = text.substr(at, end - at);
    if (field.size() > name.size() && field.substr(0, name.size()) == name &&
        field[name.size()] == '=') {
      return field.substr(name.size() + 1);
    }
    at = end + 1;
  }
  return {};
}

// differing_setting names the first setting in which b differs from a: the codecs of a keyring
// have one settings text, which holds every setting a word depends on and no key.
std::optional<Error> differing_setting(const CodecConfig& a, const CodecConfig& b) {
  const std::string text_a = settings_text(a);
  const std::string text_b = settings_text(b);
  if (text_a == text_b) { return std::nullopt; }
  for (const auto& [name, differs] : kSettingDiffers) {
    if (field_value(text_a, name) != field_value(text_b, name)) { return differs; }
  }
  return Error{ErrorCode::kInternal, "settings texts differ in no field"};
}

// check_mac is the keyed check MAC of one laid-out block under a codec's key.
void check_mac(const CodecConfig& config, const uint8_t block[fpe::kSha256BlockLen],
               uint32_t mac[8]) {
  const fpe::HmacKey& key = *config.check_key;
  fpe::sha256_hmac_block(key.inner_state().h, key.outer_state().h, block, mac);
}

// take_under decides a word whose check passed under the keys `passed` (at least one): the
// one key under which its value also deciphers inside the domain. In a Bits domain every such
// key does, so two keys are always ambiguous.
Result<KeyedBytes> take_under(Keyring keyring, std::span<const uint32_t> passed, U128 value) {
  std::optional<KeyedBytes> taken;
  for (const uint32_t k : passed) {
    const CodecConfig& config = *keyring[k];
    const Result<Bytes16> decoded =
        decoded_value(config, config.cipher->decrypt(value, config.tweak));
    if (!decoded.ok()) { continue; }
    if (taken) { return kAmbiguousKey; }
    taken = KeyedBytes{decoded.value(), k};
  }
  if (!taken) { return kCheckFailed; }
  return *taken;
}

}  // namespace

std::optional<Error> check_keyring(Keyring keyring) {
  if (keyring.empty()) { return kEmptyKeyring; }
  const CodecConfig& first = *keyring[0];
  for (const CodecConfig* config : keyring) {
    if (config->mode == Mode::kPlain || !config->check_key) { return kKeyringPlain; }
    if (const std::optional<Error> differs = differing_setting(first, *config)) { return differs; }
  }
  for (size_t i = 0; i < keyring.size(); ++i) {
    for (size_t j = i + 1; j < keyring.size(); ++j) {
      if (same_bytes(keyring[i]->key, keyring[j]->key)) { return kKeyringSameKey; }
    }
  }
  return std::nullopt;
}

Result<KeyedBytes> keyring_decode(Keyring keyring, CodeUnits text) {
  if (keyring.empty()) { return kEmptyKeyring; }
  NormalizedInput input;
  uint8_t block[fpe::kSha256BlockLen];
  U128 value;
  if (const Error* failure = read_keyed_word(*keyring[0], text, &input, block, &value)) {
    return *failure;
  }
  // The check under every key but the last first. When none passes, the last key's check runs
  // alongside its cipher, as decode does: a word under the oldest key costs one decode and a
  // check for each other key.
  const auto passes = [&](size_t k) {
    uint32_t mac[8];
    check_mac(*keyring[k], block, mac);
    const bool ok = keyed_check_matches(mac, input.check());
    secure_wipe(mac, sizeof(mac));
    return ok;
  };
  const size_t last = keyring.size() - 1;
  size_t num_passed = 0;
  uint32_t first = 0;
  for (size_t k = 0; k < last; ++k) {
    if (passes(k)) {
      first = num_passed == 0 ? static_cast<uint32_t>(k) : first;
      ++num_passed;
    }
  }
  if (num_passed == 0) {
    const Result<Bytes16> decoded = decode_read_word(*keyring[last], input, value);
    if (!decoded.ok()) { return decoded.error(); }
    return KeyedBytes{decoded.value(), static_cast<uint32_t>(last)};
  }
  if (passes(last)) { ++num_passed; }
  if (num_passed == 1) { return take_under(keyring, {&first, 1}, value); }
  // Rare (about one word in 700 per other key with one check syllable): every key that
  // passes, tested again.
  std::vector<uint32_t> passed;
  for (size_t k = 0; k < keyring.size(); ++k) {
    if (passes(k)) { passed.push_back(static_cast<uint32_t>(k)); }
  }
  return take_under(keyring, passed, value);
}

Result<KeyedBytes> keyring_recover(Keyring keyring, CodeUnits text) {
  if (keyring.empty()) { return kEmptyKeyring; }
  const Result<RecoveryWord> started = start_recovery(*keyring[0], text);
  if (!started.ok()) { return started.error(); }
  const RecoveryWord& word = started.value();
  const size_t num_keys = keyring.size();
  std::vector<std::array<uint32_t, 8>> typed_macs(num_keys);
  std::optional<uint32_t> stands;
  for (size_t k = 0; k < num_keys; ++k) {
    check_mac(*keyring[k], word.block.bytes(), typed_macs[k].data());
    if (!typed_word_stands(*keyring[k], word.input, typed_macs[k].data())) { continue; }
    if (stands) {
      secure_wipe(typed_macs.data(), num_keys * sizeof(typed_macs[0]));
      return kAmbiguousKey;
    }
    stands = static_cast<uint32_t>(k);
  }
  std::optional<KeyedBytes> taken;
  std::optional<Error> failure;
  if (stands) {
    const Result<Bytes16> decoded = decode_text(*keyring[*stands], text);
    if (!decoded.ok()) { failure = kDecodeAfterRecovery; }
    taken = KeyedBytes{decoded.ok() ? decoded.value() : Bytes16{}, *stands};
  } else {
    Substitution subs[kMaxSubstitutions];
    const size_t num_subs = list_substitutions(word, subs);
    uint8_t blocks[kMaxSubstitutions][fpe::kSha256BlockLen];
    for (size_t i = 0; i < num_subs; ++i) { substituted_block(word, subs[i], blocks[i]); }
    uint32_t macs[kMaxSubstitutions][8];
    // Every key's search; a key with several candidates keeps its own ambiguity message,
    // candidates under two keys are the keyring's ambiguity.
    size_t num_keys_with_candidates = 0;
    for (size_t k = 0; k < num_keys && num_keys_with_candidates < 2; ++k) {
      const CodecConfig& config = *keyring[k];
      fpe::hmac_blocks_many(*config.check_key, blocks, num_subs, macs);
      const Result<U128> value =
          decide_recovery(config, word, typed_macs[k].data(), {subs, num_subs}, macs);
      if (!value.ok() && value.error() == kUnrecoverable) { continue; }
      ++num_keys_with_candidates;
      if (!value.ok()) {
        failure = value.error();
      } else {
        taken = KeyedBytes{finish_value(config, value.value()), static_cast<uint32_t>(k)};
      }
    }
    secure_wipe(macs, sizeof(macs));
    if (num_keys_with_candidates == 0) { failure = kUnrecoverable; }
    if (num_keys_with_candidates > 1) { failure = kAmbiguousKey; }
  }
  secure_wipe(typed_macs.data(), num_keys * sizeof(typed_macs[0]));
  if (failure) { return *failure; }
  return *taken;
}

KeyringScratch::KeyringScratch()
    : inputs_(kBatchLen),
      blocks_(kBatchLen),
      values_(kBatchLen),
      grouped_(kBatchLen),
      results_(kBatchLen),
      index_(kBatchLen),
      grouped_index_(kBatchLen),
      key_of_(kBatchLen),
      decoded_(kBatchLen),
      identifiers_(kBatchLen),
      encoded_(kBatchLen),
      encode_errors_(kBatchLen) {}

KeyringScratch::~KeyringScratch() { secure_wipe(macs_.data(), macs_.size() * sizeof(macs_[0])); }

void keyring_decode_many(Keyring keyring, std::span<const CodeUnits> words,
                         std::span<KeyedBytes> out, std::span<std::optional<Error>> errors,
                         KeyringScratch& s) {
  const size_t n = std::min(words.size(), kBatchLen);
  const size_t num_keys = keyring.size();
  if (num_keys == 0) {
    std::fill(errors.begin(), errors.begin() + static_cast<std::ptrdiff_t>(n), kEmptyKeyring);
    return;
  }
  if (s.macs_.size() < kBatchLen * num_keys) { s.macs_.resize(kBatchLen * num_keys); }
  // Read every word once (the keys share the level and the domain) and lay out its check block.
  const size_t m = read_words(WordReader(*keyring[0]), true, words.first(n), errors,
                              {s.inputs_.data(), s.blocks_.data(), nullptr, s.values_.data(),
                               s.index_.data()});
  // The check of every word under every key, each key's in lanes.
  const auto* blocks = reinterpret_cast<const uint8_t(*)[fpe::kSha256BlockLen]>(s.blocks_.data());
  for (size_t k = 0; k < num_keys; ++k) {
    fpe::hmac_blocks_many(*keyring[k]->check_key, blocks, m,
                          reinterpret_cast<uint32_t(*)[8]>(s.macs_.data() + k * kBatchLen));
  }
  for (size_t j = 0; j < m; ++j) {
    uint32_t key = kNoKey;
    for (size_t k = 0; k < num_keys; ++k) {
      if (!keyed_check_matches(s.macs_[k * kBatchLen + j].data(), s.inputs_[j].check())) {
        continue;
      }
      key = key == kNoKey ? static_cast<uint32_t>(k) : kSeveralKeys;
    }
    s.key_of_[j] = key;
  }
  secure_wipe(s.macs_.data(), num_keys * kBatchLen * sizeof(s.macs_[0]));
  // Each key deciphers its own words in lanes; a word that passed under several keys is
  // decided alone (about one in 700 per wrong key with one check syllable).
  std::vector<uint32_t> passed;
  for (size_t j = 0; j < m; ++j) {
    const size_t item = s.index_[j];
    if (s.key_of_[j] == kNoKey) { errors[item] = kCheckFailed; }
    if (s.key_of_[j] != kSeveralKeys) { continue; }
    passed.clear();
    for (size_t k = 0; k < num_keys; ++k) {
      // Hashed again: the MACs of the batch are wiped, and this word is rare.
      uint32_t mac[8];
      check_mac(*keyring[k], s.blocks_[j].data(), mac);
      if (keyed_check_matches(mac, s.inputs_[j].check())) {
        passed.push_back(static_cast<uint32_t>(k));
      }
      secure_wipe(mac, sizeof(mac));
    }
    const Result<KeyedBytes> taken = take_under(keyring, passed, s.values_[j]);
    if (taken.ok()) {
      out[item] = taken.value();
    } else {
      errors[item] = taken.error();
    }
  }
  for (size_t k = 0; k < num_keys; ++k) {
    size_t g = 0;
    for (size_t j = 0; j < m; ++j) {
      if (s.key_of_[j] != k) { continue; }
      s.grouped_[g] = s.values_[j];
      s.grouped_index_[g++] = s.index_[j];
    }
    if (g == 0) { continue; }
    const CodecConfig& config = *keyring[k];
    config.cipher->decrypt_many({s.grouped_.data(), g}, config.tweak, {s.results_.data(), g});
    const ValueEnd end(config);
    for (size_t j = 0; j < g; ++j) {
      if (end.in_domain(s.results_[j])) {
        KeyedBytes& keyed = out[s.grouped_index_[j]];
        end.write(s.results_[j], keyed.bytes);
        keyed.key_index = static_cast<uint32_t>(k);
      } else {
        errors[s.grouped_index_[j]] = kCheckFailed;
      }
    }
  }
}

void keyring_rekey_many(Keyring keyring, std::span<const CodeUnits> words,
                        std::span<EncodedText> texts, std::span<std::optional<Error>> errors,
                        KeyringScratch& s, BatchScratch& encode_scratch) {
  const size_t n = std::min(words.size(), kBatchLen);
  keyring_decode_many(keyring, words.first(n), {s.decoded_.data(), n}, errors, s);
  if (keyring.empty()) { return; }
  const CodecConfig& target = *keyring[0];
  // encode selects the last ceil(bit_width / 8) bytes of a decoded identifier as it selected
  // the identifier's bytes when the word was written.
  const size_t num_bytes = (target.bit_width + 7) / 8;
  size_t m = 0;
  for (size_t i = 0; i < n; ++i) {
    if (errors[i]) { continue; }
    s.identifiers_[m] = std::span<const uint8_t>(s.decoded_[i].bytes).last(num_bytes);
    s.index_[m++] = static_cast<uint32_t>(i);
  }
  std::vector<EncodedText>& encoded = s.encoded_;
  std::vector<std::optional<Error>>& encode_errors = s.encode_errors_;
  encode_many(target, {s.identifiers_.data(), m}, {encoded.data(), m},
              {encode_errors.data(), m}, encode_scratch);
  for (size_t j = 0; j < m; ++j) {
    const size_t item = s.index_[j];
    if (encode_errors[j]) {
      errors[item] = encode_errors[j];
    } else {
      texts[item] = encoded[j];
    }
  }
}

}  // namespace tavik::core
