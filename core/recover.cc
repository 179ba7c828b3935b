#include "core/recover.h"

#include <cstring>
#include <string>

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

constexpr size_t kMaxCandidates = 3 * (kMaxDataSyllables + kMaxCheckSyllables);

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

Result<Bytes16> recover_text(const CodecConfig& config, std::string_view text) {
  if (config.mode == Mode::kPlain) {
    return value_error(std::string(decode_error_text(DecodeError::kRecoveryNotSupported)));
  }
  if (!config.check_key) {
    return value_error(std::string(decode_error_text(DecodeError::kKeyRequired)));
  }
  const size_t num_data_units = 2 * data_syllable_count(config);
  NormalizedInput input;
  if (!normalize(static_cast<uint8_t>(config.level), text, num_data_units,
                 2 * config.check_syllables, &input)) {
    return value_error(std::string(decode_error_text(DecodeError::kNormalizationFailed)));
  }
  const fpe::HmacKey* key = config.check_key.get();
  // The canonical text is laid out once; each substitution rewrites one unit's letters in
  // place (confusable units are spelled with as many letters) and hashes the block again.
  KeyedCheckBlock block(input.data());
  auto passes_check = [&](std::span<const uint8_t> data, std::span<const uint8_t> check) {
    if (block.fits()) { return block.verify(*key, check); }
    return verify_check(config.mode, key, data, check);
  };

  // A word verifies when it passes the keyed check and spells a value inside the domain.
  if (passes_check(input.data(), input.check()) && units_in_domain(config, input.data())) {
    const DecodeResult decoded = decode_text(config, text);
    if (!decoded.ok()) {
      return Error{ErrorCode::kDecodeAfterRecovery, "failed to decode after recovery"};
    }
    return decoded.bytes;
  }

  const ConfusionGraph& graph = ConfusionGraph::instance();
  CandidateList candidates(num_data_units);
  uint8_t changed[kMaxCheckUnits > kMaxDataUnits ? kMaxCheckUnits : kMaxDataUnits];
  for (size_t p = 0; p < input.num_data_units; ++p) {
    const uint8_t original = input.data_units[p];
    for (uint8_t neighbour : graph.neighbours(original)) {
      std::memcpy(changed, input.data_units, input.num_data_units);
      changed[p] = neighbour;
      const std::span<const uint8_t> data(changed, input.num_data_units);
      if (block.fits()) { block.set_unit(p, neighbour); }
      if (passes_check(data, input.check()) && units_in_domain(config, data)) {
        candidates.add_unique(changed);
      }
    }
    if (block.fits()) { block.set_unit(p, original); }
  }
  if (units_in_domain(config, input.data())) {
    for (size_t p = 0; p < input.num_check_units; ++p) {
      for (uint8_t neighbour : graph.neighbours(input.check_units[p])) {
        std::memcpy(changed, input.check_units, input.num_check_units);
        changed[p] = neighbour;
        if (passes_check(input.data(), {changed, input.num_check_units})) {
          candidates.add_unique(input.data_units);
        }
      }
    }
  }

  if (candidates.size() == 0) { return value_error("reject: unrecoverable"); }
  if (candidates.size() > 1) {
    return value_error("ambiguous: " + std::to_string(candidates.size()) + " candidates");
  }
  return finish_value(config, units_to_value(candidates.at(0)));
}

}  // namespace tavik::core
