#include "AllocationWatch.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define GAVEX_WATCH_WITH_SANITIZER_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GAVEX_WATCH_WITH_SANITIZER_HOOKS 1
#endif
#endif

#ifdef GAVEX_WATCH_WITH_SANITIZER_HOOKS
// Declared here: GCC's run-time has the hook but ships no header for it.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onAllocate)(const volatile void*, size_t),
                                                         void (*onFree)(const volatile void*));
#endif

namespace {

std::atomic<bool> g_armed{false};
std::atomic<pthread_t> g_owner{};
std::atomic<size_t> g_largest{0};

void Note(size_t size) {
    if (!g_armed.load(std::memory_order_acquire) || !pthread_equal(pthread_self(), g_owner.load(std::memory_order_relaxed))) return;
    if (size > g_largest.load(std::memory_order_relaxed)) g_largest.store(size, std::memory_order_relaxed);
}

#ifdef GAVEX_WATCH_WITH_SANITIZER_HOOKS
void OnAllocate(const volatile void*, size_t size) { Note(size); }
void OnFree(const volatile void*) {}
const int g_hooks = __sanitizer_install_malloc_and_free_hooks(OnAllocate, OnFree);
#endif

}  // namespace

#ifndef GAVEX_WATCH_WITH_SANITIZER_HOOKS

// Every unaligned form, so that each allocation is freed by its own kind.
// The size is noted before the allocation is tried: a request that fails is
// what the watch is for.
void* operator new(size_t size) {
    Note(size);
    for (;;) {
        if (void* p = std::malloc(size ? size : 1)) return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}
void* operator new[](size_t size) { return ::operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return ::operator new(size, std::nothrow); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

#endif

namespace enginetest {

AllocationWatch::AllocationWatch() {
#ifdef GAVEX_WATCH_WITH_SANITIZER_HOOKS
    (void)g_hooks;
#endif
    g_owner.store(pthread_self(), std::memory_order_relaxed);
    g_largest.store(0);
    g_armed.store(true, std::memory_order_release);
}

AllocationWatch::~AllocationWatch() { g_armed.store(false, std::memory_order_release); }

size_t AllocationWatch::Largest() const { return g_largest.load(); }

}  // namespace enginetest
