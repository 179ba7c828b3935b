#include "core/recover.h"

#include <cstring>
#include <string>
#include <string_view>

#include "base/secure_wipe.h"

#include "core/check.h"
#include "core/normalize.h"
#include "core/render.h"
#include "fpe/lanes.h"

namespace tavik::core {

namespace {

// Onset edges as values (universal letters: w-t, m-s, k-b, g-d, j-p, then the clusters).
constexpr uint8_t kOnsetEdges[][2] = {{4, 5},   {0, 6},   {1, 7},   {9, 10},  {2, 3},  {15, 16},
                                      {18, 19}, {20, 21}, {22, 23}, {24, 25}, {26, 27}};
// Nucleus edges as values: for each vowel, n-l and l-r.
constexpr uint8_t kNucleusEdges[][2] = {{5, 6},   {6, 7},   {8, 9},   {9, 10},  {11, 12},
                                        {12, 13}, {14, 15}, {15, 16}, {17, 18}, {18, 19}};

// CandidateList holds distinct data-unit sequences in fixed storage.
class CandidateList {
 public:
  explicit CandidateList(size_t num_units) : num_units_(num_units) {}
  void add_unique(const uint8_t* units) {
    for (size_t i = 0; i < size_; ++i) {
      if (std::memcmp(items_[i], units, num_units_) == 0) { return; }
    }
    if (size_ < kMaxCandidates) { std::memcpy(items_[size_++], units, num_units_); }
  }
  size_t size() const { return size_; }
  std::span<const uint8_t> at(size_t i) const { return {items_[i], num_units_}; }

 private:
  uint8_t items_[kMaxCandidates][kMaxDataUnits] = {};
  size_t num_units_;
  size_t size_ = 0;
};

// The word verified as typed: it is decoded as decode would, and a failure there is the one
// runtime error of recovery.
Result<Bytes16> decode_as_typed(const CodecConfig& config, CodeUnits text) {
  Result<Bytes16> decoded = decode_text(config, text);
  if (!decoded.ok()) { return kDecodeAfterRecovery; }
  return decoded;
}


}  // namespace

ConfusionGraph::ConfusionGraph() {
  for (const auto& edge : kOnsetEdges) { add_edge(edge[0], edge[1]); }
  // Cluster rule: swap a second letter l for r and anything else for l; join the two values
  // when the result is a universal cluster (it adds nothing new to the edges above).
  for (uint8_t value = 15; value <= 28; ++value) {
    const std::string_view letters = kOnsets[0][value];
    const std::string partner{letters[0], letters[1] == 'l' ? 'r' : 'l'};
    for (uint8_t other = 15; other < kNumOnsets; ++other) {
      if (kOnsets[0][other] == partner) { add_edge(value, other); }
    }
  }
  for (const auto& edge : kNucleusEdges) {
    add_edge(static_cast<uint8_t>(kNucleusFlag | edge[0]),
             static_cast<uint8_t>(kNucleusFlag | edge[1]));
  }
}

void ConfusionGraph::add_edge(uint8_t a, uint8_t b) {
  for (size_t i = 0; i < num_neighbours_[a]; ++i) {
    if (neighbours_[a][i] == b) { return; }  // an existing edge changes nothing
  }
  neighbours_[a][num_neighbours_[a]++] = b;
  neighbours_[b][num_neighbours_[b]++] = a;
}

const ConfusionGraph& ConfusionGraph::instance() {
  static const ConfusionGraph graph;
  return graph;
}

std::span<const uint8_t> ConfusionGraph::neighbours(uint8_t unit) const {
  return {neighbours_[unit].data(), num_neighbours_[unit]};
}

namespace {

// The refusals before a search that do not depend on the check block.
std::optional<Error> read_units(const CodecConfig& config, CodeUnits text,
                                NormalizedInput* input) {
  if (std::optional<Error> refusal = recovery_refusal(config)) { return refusal; }
  if (!WordReader(config).normalize(text, input)) { return kNormalizationFailed; }
  return std::nullopt;
}

}  // namespace

std::optional<Error> recovery_refusal(const CodecConfig& config) {
  if (config.mode == Mode::kPlain) { return kRecoveryNotSupported; }
  if (!config.check_key) { return kKeyRequired; }
  return std::nullopt;
}

// A text longer than one block spells a value of 2^128 or more; no single substitution brings
// it below (its top syllable would have to become a plain "a" syllable): kUnrecoverable.
Result<RecoveryWord> start_recovery(const CodecConfig& config, CodeUnits text) {
  RecoveryWord word;
  if (const std::optional<Error> failure = read_units(config, text, &word.input)) {
    return *failure;
  }
  word.block = KeyedCheckBlock(word.input.data());
  if (!word.block.fits()) { return kUnrecoverable; }
  return word;
}

std::optional<Error> recovery_block(const NormalizedInput& input, const DataText& data_text,
                                    uint8_t block[fpe::kSha256BlockLen]) {
  if (input.num_data_units > kMaxDataUnits ||
      !layout_check_block(data_text, input.data(), block)) {
    return kUnrecoverable;
  }
  return std::nullopt;
}

size_t list_substitutions(const RecoveryWord& word, Substitution out[kMaxSubstitutions]) {
  const ConfusionGraph& graph = ConfusionGraph::instance();
  size_t n = 0;
  for (size_t p = 0; p < word.input.num_data_units; ++p) {
    for (uint8_t neighbour : graph.neighbours(word.input.data_units[p])) {
      out[n++] = {static_cast<uint8_t>(p), neighbour};
    }
  }
  return n;
}

void substituted_block(const RecoveryWord& word, Substitution sub,
                       uint8_t block[fpe::kSha256BlockLen]) {
  KeyedCheckBlock changed = word.block;
  changed.set_unit(sub.pos, sub.unit);
  std::memcpy(block, changed.bytes(), fpe::kSha256BlockLen);
}

bool typed_word_stands(const CodecConfig& config, const NormalizedInput& input,
                       const uint32_t typed_mac[8], U128* value) {
  return keyed_check_matches(typed_mac, input.check()) &&
         units_in_domain(config, input.data(), value);
}

Result<U128> decide_recovery(const CodecConfig& config, const RecoveryWord& word,
                             const uint32_t typed_mac[8], std::span<const Substitution> subs,
                             const uint32_t (*sub_macs)[8]) {
  const NormalizedInput& input = word.input;
  const ConfusionGraph& graph = ConfusionGraph::instance();
  CandidateList candidates(input.num_data_units);
  uint8_t changed[kMaxCheckUnits > kMaxDataUnits ? kMaxCheckUnits : kMaxDataUnits];
  // A substitution in the data counts when its check passes and its units lie in the domain.
  for (size_t i = 0; i < subs.size(); ++i) {
    if (!keyed_check_matches(sub_macs[i], input.check())) { continue; }
    std::memcpy(changed, input.data_units, input.num_data_units);
    changed[subs[i].pos] = subs[i].unit;
    if (units_in_domain(config, {changed, input.num_data_units})) {
      candidates.add_unique(changed);
    }
  }
  // A substitution in the check units leaves the data as typed; the digest of the data as
  // typed serves all of them. (A word whose check passes as typed has none to try.)
  if (!keyed_check_matches(typed_mac, input.check())) {
    bool fixes = false;
    for (size_t p = 0; p < input.num_check_units && !fixes; ++p) {
      for (uint8_t neighbour : graph.neighbours(input.check_units[p])) {
        std::memcpy(changed, input.check_units, input.num_check_units);
        changed[p] = neighbour;
        fixes = fixes || keyed_check_matches(typed_mac, {changed, input.num_check_units});
      }
    }
    // Deciphered (a cycle walk) only once a check passes.
    if (fixes && units_in_domain(config, input.data())) {
      candidates.add_unique(input.data_units);
    }
  }
  if (candidates.size() == 0) { return kUnrecoverable; }
  if (candidates.size() > 1) { return value_error(ambiguous_message(candidates.size())); }
  return units_to_value(candidates.at(0));
}

size_t ambiguous_count(const Error& error) {
  for (size_t n = 2; n <= kMaxCandidates; ++n) {
    if (error == value_error(ambiguous_message(n))) { return n; }
  }
  return 0;
}

Result<Bytes16> recover_text(const CodecConfig& config, CodeUnits text) {
  const Result<RecoveryWord> started = start_recovery(config, text);
  if (!started.ok()) { return started.error(); }
  const RecoveryWord& word = started.value();
  const fpe::HmacKey& key = *config.check_key;
  // The canonical text is laid out once. The digest of the unchanged data serves the word as
  // typed and every substitution in the check units; a substitution in the data rewrites one
  // unit's letters in a copy of the block (confusable units are spelled with as many letters),
  // and the copies are hashed several at a time, side by side.
  uint32_t typed_mac[8];
  fpe::sha256_hmac_block(key.inner_state().h, key.outer_state().h, word.block.bytes(), typed_mac);
  if (typed_word_stands(config, word.input, typed_mac)) {
    secure_wipe(typed_mac, sizeof(typed_mac));
    return decode_as_typed(config, text);
  }
  Substitution subs[kMaxSubstitutions];
  const size_t num_subs = list_substitutions(word, subs);
  uint8_t blocks[kMaxSubstitutions][fpe::kSha256BlockLen];
  for (size_t i = 0; i < num_subs; ++i) { substituted_block(word, subs[i], blocks[i]); }
  uint32_t macs[kMaxSubstitutions][8];
  fpe::hmac_blocks_many(key, blocks, num_subs, macs);
  const Result<U128> value = decide_recovery(config, word, typed_mac, {subs, num_subs}, macs);
  secure_wipe(typed_mac, sizeof(typed_mac));
  secure_wipe(macs, sizeof(macs));
  if (!value.ok()) { return value.error(); }
  return finish_value(config, value.value());
}

}  // namespace tavik::core
