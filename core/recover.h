#ifndef TAVIK_CORE_RECOVER_H_
#define TAVIK_CORE_RECOVER_H_

// Recovery of a code word with one onset or nucleus mistaken for a similar one.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/result.h"
#include "core/config.h"
#include "core/decode.h"

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
inline constexpr Error kDecodeAfterRecovery = {ErrorCode::kDecodeAfterRecovery,
                                               "failed to decode after recovery"};

// recover_text decodes a code word, first correcting one unit along the confusion graph when
// the check fails. Errors: kRecoveryNotSupported, kKeyRequired, kNormalizationFailed,
// kUnrecoverable, "ambiguous: N candidates" (kValue), and kDecodeAfterRecovery.
// A candidate counts only if it passes the keyed check and lies inside the domain.
// Only words whose check passes (as typed or after a substitution) are deciphered, so a word
// whose check fails everywhere costs no cycle walk.
Result<Bytes16> recover_text(const CodecConfig& config, CodeUnits text);

}  // namespace tavik::core

#endif  // TAVIK_CORE_RECOVER_H_
