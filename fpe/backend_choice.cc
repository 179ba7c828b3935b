// backend() alone in its file: the test program links its own definition in place of this
// one (tests/support/backend_swap.cc), which the linker then never takes from the library.

#include "fpe/backend.h"

namespace tavik::fpe {

const Backend& backend() {
  static const Backend chosen = detect_backend();
  return chosen;
}

}  // namespace tavik::fpe
