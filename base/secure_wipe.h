#ifndef TAVIK_BASE_SECURE_WIPE_H_
#define TAVIK_BASE_SECURE_WIPE_H_

#include <cstddef>

namespace tavik {

// secure_wipe sets len bytes at p to zero, and the compiler may not drop the stores even when
// the memory is never read again (a key copy about to go out of scope or be freed). p may be
// null when len is 0.
void secure_wipe(void* p, size_t len);

}  // namespace tavik

#endif  // TAVIK_BASE_SECURE_WIPE_H_
