// Linked only into a module that carries its own C++ runtime (TAVIK_STATIC_RUNTIME: the wheels).
//
// libstdc++ built against glibc 2.32 or newer reads glibc's __libc_single_threaded to skip the
// atomic instructions of reference counts while the process has a single thread. That one
// variable is the newest thing the module would need from glibc: without it the wheel runs on
// glibc 2.17, with it only on 2.32 and newer. This copy, private to the module (its version
// script exports PyInit_tavik alone), is never set: it always answers "other threads may run",
// so every count takes the atomic path, which is correct in any process.
extern "C" {
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;
}
