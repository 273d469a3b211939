#include "sim/threads.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>

namespace {

std::atomic<unsigned> g_refusals{0};
std::atomic<int> g_error{EAGAIN};

// One refusal taken, or 0 when creations are granted.
int TakeRefusal()
{
    unsigned left = g_refusals.load();
    while (left != 0) {
        if (g_refusals.compare_exchange_weak(left, left - 1)) {
            return g_error.load();
        }
    }
    return 0;
}

}  // namespace

namespace sim {

void Threads::RefuseNext(unsigned count, int error)
{
    g_error = error;
    g_refusals = count;
}

void Threads::Reset()
{
    g_refusals = 0;
}

}  // namespace sim

// Every thread of the process is created here first (the standard library's
// threads included); the next definition in the lookup order (the C library, or
// a sanitizer's interceptor) creates it unless a refusal is pending.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                              void* argument)
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const Create next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (const int refused = TakeRefusal()) {
        return refused;
    }
    return next(thread, attributes, start, argument);
}
