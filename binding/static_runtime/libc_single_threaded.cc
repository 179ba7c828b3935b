// Linked only into a module that carries its own C++ runtime (TAVIK_STATIC_RUNTIME: the wheels).
//
// libstdc++ built against glibc 2.32 or newer reads glibc's __libc_single_threaded to skip the
// atomic instructions of reference counts while the process has a single thread. That one
// variable would make the module need glibc 2.32 (its other needs stop at 2.18, the destructors
// of thread_local objects). This copy, private to the module (its version script exports
// PyInit_tavik alone), is never set: it always answers "other threads may run", so every count
// takes the atomic path, which is correct in any process.
extern "C" {
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;
}
