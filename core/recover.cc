#include "core/recover.h"

#include <cstring>
#include <string>
#include <string_view>

#include "base/secure_wipe.h"

#include "core/check.h"
#include "core/normalize.h"
#include "core/render.h"

namespace tavik::core {

namespace {

// Onset edges as values (universal letters: w-t, m-s, k-b, g-d, j-p, then the clusters).
constexpr uint8_t kOnsetEdges[][2] = {{4, 5},   {0, 6},   {1, 7},   {9, 10},  {2, 3},  {15, 16},
                                      {18, 19}, {20, 21}, {22, 23}, {24, 25}, {26, 27}};
// Nucleus edges as values: for each vowel, n-l and l-r.
constexpr uint8_t kNucleusEdges[][2] = {{5, 6},   {6, 7},   {8, 9},   {9, 10},  {11, 12},
                                        {12, 13}, {14, 15}, {15, 16}, {17, 18}, {18, 19}};

// At most one candidate per substitution: two neighbours per nucleus unit and one per onset
// unit, and the check units together give one.
constexpr size_t kMaxCandidates = 3 * (kMaxDataSyllables + kMaxCheckSyllables);
static_assert(kMaxCandidates < 100);

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

// The texts "ambiguous: N candidates" for every count a search can find.
constexpr size_t kAmbiguousLen = sizeof("ambiguous: 99 candidates") - 1;
struct AmbiguousTexts {
  char text[kMaxCandidates + 1][kAmbiguousLen];
  uint8_t len[kMaxCandidates + 1];
};
constexpr AmbiguousTexts make_ambiguous_texts() {
  AmbiguousTexts t{};
  constexpr std::string_view kHead = "ambiguous: ";
  constexpr std::string_view kTail = " candidates";
  for (size_t n = 0; n <= kMaxCandidates; ++n) {
    size_t len = 0;
    for (char c : kHead) { t.text[n][len++] = c; }
    if (n >= 10) { t.text[n][len++] = static_cast<char>('0' + n / 10); }
    t.text[n][len++] = static_cast<char>('0' + n % 10);
    for (char c : kTail) { t.text[n][len++] = c; }
    t.len[n] = static_cast<uint8_t>(len);
  }
  return t;
}
constexpr AmbiguousTexts kAmbiguousTexts = make_ambiguous_texts();

std::string_view ambiguous_message(size_t num_candidates) {
  return {kAmbiguousTexts.text[num_candidates], kAmbiguousTexts.len[num_candidates]};
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

Result<Bytes16> recover_text(const CodecConfig& config, CodeUnits text) {
  if (config.mode == Mode::kPlain) { return kRecoveryNotSupported; }
  if (!config.check_key) { return kKeyRequired; }
  const size_t num_data_units = 2 * data_syllable_count(config);
  NormalizedInput input;
  if (!normalize(static_cast<uint8_t>(config.level), text, num_data_units,
                 2 * config.check_syllables, &input)) {
    return kNormalizationFailed;
  }
  // A text longer than one block spells a value of 2^128 or more; no single substitution
  // brings it below (its top syllable would have to become a plain "a" syllable).
  const KeyedCheckBlock block(input.data());
  if (!block.fits()) { return kUnrecoverable; }
  const fpe::HmacKey& key = *config.check_key;
  const ConfusionGraph& graph = ConfusionGraph::instance();
  CandidateList candidates(num_data_units);
  uint8_t changed[kMaxCheckUnits > kMaxDataUnits ? kMaxCheckUnits : kMaxDataUnits];
  auto add_if_in_domain = [&](size_t pos, uint8_t unit) {
    std::memcpy(changed, input.data_units, input.num_data_units);
    changed[pos] = unit;
    if (units_in_domain(config, {changed, input.num_data_units})) {
      candidates.add_unique(changed);
    }
  };

  // The canonical text is laid out once. The digest of the unchanged data serves the word as
  // typed and every substitution in the check units; a substitution in the data rewrites one
  // unit's letters in a copy of the block (confusable units are spelled with as many letters),
  // and the copies are hashed two at a time, side by side.
  uint32_t mac[8];
  fpe::sha256_hmac_block(key.inner_state().h, key.outer_state().h, block.bytes(), mac);
  const bool as_typed = keyed_check_matches(mac, input.check());
  bool check_unit_fixes = false;
  if (!as_typed) {
    for (size_t p = 0; p < input.num_check_units && !check_unit_fixes; ++p) {
      for (uint8_t neighbour : graph.neighbours(input.check_units[p])) {
        std::memcpy(changed, input.check_units, input.num_check_units);
        changed[p] = neighbour;
        check_unit_fixes =
            check_unit_fixes || keyed_check_matches(mac, {changed, input.num_check_units});
      }
    }
    // Deciphered (a cycle walk) only once a check passes.
    check_unit_fixes = check_unit_fixes && units_in_domain(config, input.data());
  }
  secure_wipe(mac, sizeof(mac));
  if (as_typed && units_in_domain(config, input.data())) { return decode_as_typed(config, text); }

  struct Substitution {
    size_t pos;
    uint8_t unit;
  };
  Substitution subs[kMaxDataUnits * 2];
  size_t num_subs = 0;
  for (size_t p = 0; p < input.num_data_units; ++p) {
    for (uint8_t neighbour : graph.neighbours(input.data_units[p])) {
      subs[num_subs++] = {p, neighbour};
    }
  }
  size_t i = 0;
  for (; i + 1 < num_subs; i += 2) {
    KeyedCheckBlock first = block;
    KeyedCheckBlock second = block;
    first.set_unit(subs[i].pos, subs[i].unit);
    second.set_unit(subs[i + 1].pos, subs[i + 1].unit);
    bool first_ok = false;
    bool second_ok = false;
    first.verify_pair(key, second, input.check(), &first_ok, &second_ok);
    if (first_ok) { add_if_in_domain(subs[i].pos, subs[i].unit); }
    if (second_ok) { add_if_in_domain(subs[i + 1].pos, subs[i + 1].unit); }
  }
  if (i < num_subs) {
    KeyedCheckBlock last = block;
    last.set_unit(subs[i].pos, subs[i].unit);
    if (last.verify(key, input.check())) { add_if_in_domain(subs[i].pos, subs[i].unit); }
  }
  if (check_unit_fixes) { candidates.add_unique(input.data_units); }

  if (candidates.size() == 0) { return kUnrecoverable; }
  if (candidates.size() > 1) { return value_error(ambiguous_message(candidates.size())); }
  return finish_value(config, units_to_value(candidates.at(0)));
}

}  // namespace tavik::core
