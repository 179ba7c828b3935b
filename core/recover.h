#ifndef TAVIK_CORE_RECOVER_H_
#define TAVIK_CORE_RECOVER_H_

// Recovery of a code word with one onset or nucleus mistaken for a similar one.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/result.h"
#include "base/u128.h"
#include "core/check.h"
#include "core/config.h"
#include "core/decode.h"
#include "core/normalize.h"

namespace tavik::core {

// ConfusionGraph lists, for every unit, its neighbours in the order their edges were added.
// Onset and nucleus units never share an edge.
class ConfusionGraph {
 public:
  static const ConfusionGraph& instance();
  // neighbours of a unit (empty for a unit without edges or out of range).
  std::span<const uint8_t> neighbours(uint8_t unit) const;

  ConfusionGraph();

 private:
  void add_edge(uint8_t a, uint8_t b);
  static constexpr size_t kMaxNeighbours = 2;
  std::array<std::array<uint8_t, kMaxNeighbours>, 256> neighbours_{};
  std::array<uint8_t, 256> num_neighbours_{};
};

inline constexpr Error kUnrecoverable = value_error("reject: unrecoverable");

// At most one candidate per substitution in the data, and the check units together give one.
inline constexpr size_t kMaxCandidates = 2 * kMaxDataUnits + 1;
static_assert(kMaxCandidates < 100);

namespace detail {
// The texts "ambiguous: N candidates" for every count a search can find.
inline constexpr size_t kAmbiguousLen = sizeof("ambiguous: 99 candidates") - 1;
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
inline constexpr AmbiguousTexts kAmbiguousTexts = make_ambiguous_texts();
}  // namespace detail

// ambiguous_message is the text "ambiguous: N candidates" of a search that found
// num_candidates (2..kMaxCandidates); ambiguous_count is N for such an error, else 0.
constexpr std::string_view ambiguous_message(size_t num_candidates) {
  return {detail::kAmbiguousTexts.text[num_candidates], detail::kAmbiguousTexts.len[num_candidates]};
}
size_t ambiguous_count(const Error& error);
inline constexpr Error kDecodeAfterRecovery = {ErrorCode::kDecodeAfterRecovery,
                                               "failed to decode after recovery"};

// The steps of recovery, shared by recover_text and the bulk path (which hashes the blocks of
// many words in lanes).
//
// RecoveryWord is a word being recovered: its units and the check block of its data.
struct RecoveryWord {
  NormalizedInput input;
  KeyedCheckBlock block;
};
// start_recovery refuses what recover_text refuses before its search: plain mode, a missing
// key, input that does not normalize, and (kUnrecoverable) data too long for one block.
Result<RecoveryWord> start_recovery(const CodecConfig& config, CodeUnits text);
// recovery_refusal is what recovery refuses in a configuration, before it reads any word:
// plain mode, a missing key.
std::optional<Error> recovery_refusal(const CodecConfig& config);
// recovery_block is the rest of start_recovery for the bulk path, which searches few of its
// words, in a configuration that recovery_refusal accepts, once the word has been normalized
// into `input` (with data_text's bytes at `block`): it lays out only the check block of the
// data as typed (no RecoveryWord), and returns the failure, if any.
std::optional<Error> recovery_block(const NormalizedInput& input, const DataText& data_text,
                                    uint8_t block[fpe::kSha256BlockLen]);

// typed_word_stands tells, from the MAC of the word's own block, whether the word passes as
// typed (check and domain): it is then decoded as it is. With `value`, it also writes the
// value its data units spell when it stands.
bool typed_word_stands(const CodecConfig& config, const NormalizedInput& input,
                       const uint32_t typed_mac[8], U128* value = nullptr);

// A Substitution replaces data unit `pos` by `unit`, a neighbour in the confusion graph; a
// word has at most one per onset unit and two per nucleus unit.
struct Substitution {
  uint8_t pos;
  uint8_t unit;
};
inline constexpr size_t kMaxSubstitutions = 2 * kMaxDataUnits;
static_assert(kMaxCandidates == kMaxSubstitutions + 1);
// list_substitutions writes a word's substitutions in search order and returns their number.
size_t list_substitutions(const RecoveryWord& word, Substitution out[kMaxSubstitutions]);
// substituted_block writes the check block of the word with one substitution.
void substituted_block(const RecoveryWord& word, Substitution sub,
                       uint8_t block[fpe::kSha256BlockLen]);

// decide_recovery decides the search of a word that does not stand as typed, from the MAC of
// its block as typed and those of its substituted blocks (sub_macs[i] for subs[i]): the code
// value of the one candidate, or kUnrecoverable or "ambiguous: N candidates".
Result<U128> decide_recovery(const CodecConfig& config, const RecoveryWord& word,
                             const uint32_t typed_mac[8], std::span<const Substitution> subs,
                             const uint32_t (*sub_macs)[8]);

// recover_text decodes a code word, first correcting one unit along the confusion graph when
// the check fails. Errors: kRecoveryNotSupported, kKeyRequired, kNormalizationFailed,
// kUnrecoverable, "ambiguous: N candidates" (kValue), and kDecodeAfterRecovery.
// A candidate counts only if it passes the keyed check and lies inside the domain.
// Only words whose check passes (as typed or after a substitution) are deciphered, so a word
// whose check fails everywhere costs no cycle walk.
Result<Bytes16> recover_text(const CodecConfig& config, CodeUnits text);

}  // namespace tavik::core

#endif  // TAVIK_CORE_RECOVER_H_
