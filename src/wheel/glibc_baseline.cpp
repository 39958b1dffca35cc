// Keeps the module's statically linked C++ runtime within the glibc baseline of the wheels
// (x86-64 only): glibc calls of libstdc++ are bound to their oldest versions, not the build host's.
//
// The static libstdc++ of a compiler built against a recent glibc refers to the pthread functions
// by the versions glibc 2.34 gave them when it took them over from libpthread, to
// `__libc_single_threaded` (2.32) and to `arc4random` (2.36). The definitions below win over the
// shared libc when the module is linked, and call the functions glibc has had since x86-64 began;
// the module's version script keeps them local. Built only with the static runtime (CMake's
// TARVIK_STATIC_CXX_RUNTIME).
#include <sys/random.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The oldest version of `name` on x86-64, under another name, so that it can be called from the
// definition of `name` itself.
#define TARVIK_OLDEST_VERSION(name) __asm__(".symver oldest_" #name ", " #name "@GLIBC_2.2.5")

// glibc's own declarations (<pthread.h>) are left out, as they would clash with the definitions
// below: pthread_key_t is an unsigned int, the locks are passed by address only.
extern "C" {
int oldest_pthread_key_create(unsigned* key, void (*destructor)(void*));
int oldest_pthread_key_delete(unsigned key);
void* oldest_pthread_getspecific(unsigned key);
int oldest_pthread_setspecific(unsigned key, const void* value);
int oldest_pthread_rwlock_rdlock(void* lock);
int oldest_pthread_rwlock_wrlock(void* lock);
int oldest_pthread_rwlock_unlock(void* lock);
}
TARVIK_OLDEST_VERSION(pthread_key_create);
TARVIK_OLDEST_VERSION(pthread_key_delete);
TARVIK_OLDEST_VERSION(pthread_getspecific);
TARVIK_OLDEST_VERSION(pthread_setspecific);
TARVIK_OLDEST_VERSION(pthread_rwlock_rdlock);
TARVIK_OLDEST_VERSION(pthread_rwlock_wrlock);
TARVIK_OLDEST_VERSION(pthread_rwlock_unlock);

extern "C" {

int pthread_key_create(unsigned* key, void (*destructor)(void*)) noexcept {
  return oldest_pthread_key_create(key, destructor);
}
int pthread_key_delete(unsigned key) noexcept {
  return oldest_pthread_key_delete(key);
}
void* pthread_getspecific(unsigned key) noexcept {
  return oldest_pthread_getspecific(key);
}
int pthread_setspecific(unsigned key, const void* value) noexcept {
  return oldest_pthread_setspecific(key, value);
}
int pthread_rwlock_rdlock(void* lock) noexcept {
  return oldest_pthread_rwlock_rdlock(lock);
}
int pthread_rwlock_wrlock(void* lock) noexcept {
  return oldest_pthread_rwlock_wrlock(lock);
}
int pthread_rwlock_unlock(void* lock) noexcept {
  return oldest_pthread_rwlock_unlock(lock);
}

// libstdc++ skips atomic reference counting while this is non-zero; zero is always correct.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): glibc's name.
char __libc_single_threaded = 0;

// Reached only through std::random_device("default"), which the module does not use. Like
// glibc's own, it ends the process when the kernel gives no entropy.
std::uint32_t arc4random() noexcept {
  std::uint32_t value = 0;
  std::size_t filled = 0;
  while (filled < sizeof value) {
    const ssize_t got =
        getrandom(reinterpret_cast<char*>(&value) + filled, sizeof value - filled, 0);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (errno != EINTR) {
      std::abort();
    }
  }
  return value;
}

}  // extern "C"
