#include "sim/threads.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/crash.h"

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

// A new thread's start: its signal stack first, then the thread's own work.
struct ThreadStart {
    void* (*start)(void*);
    void* argument;
};

void* StartWithSignalStack(void* raw)
{
    const ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    sim::UseSignalStack();
    return start.start(start.argument);
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

std::vector<ThreadState> ThreadsOfThisProcess()
{
    std::vector<ThreadState> threads;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return threads;
    }
    while (const dirent* entry = readdir(tasks)) {
        const uint32_t id = static_cast<uint32_t>(std::strtoul(entry->d_name, nullptr, 10));
        if (id == 0) {
            continue;  // "." and ".."
        }
        char path[64];
        std::snprintf(path, sizeof(path), "/proc/self/task/%u/stat", id);
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            continue;  // the thread has ended
        }
        char stat[512];
        const ssize_t length = read(fd, stat, sizeof(stat) - 1);
        close(fd);
        if (length <= 0) {
            continue;
        }
        stat[length] = '\0';
        // "id (name) S ...": the name may hold anything, the state follows its last ')'.
        const char* nameStart = std::strchr(stat, '(');
        const char* nameEnd = std::strrchr(stat, ')');
        if (nameStart == nullptr || nameEnd == nullptr || nameEnd < nameStart || nameEnd[1] != ' ') {
            continue;
        }
        threads.push_back({id, std::string(nameStart + 1, nameEnd), nameEnd[2]});
    }
    closedir(tasks);
    return threads;
}

}  // namespace sim

// Every thread of the process is created here first (the standard library's
// threads included); the next definition in the lookup order (the C library, or
// a sanitizer's interceptor) creates it unless a refusal is pending. Each
// thread gets a signal stack, so that a stack overflow on it reaches the
// fatal-signal handler.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                              void* argument)
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const Create next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (const int refused = TakeRefusal()) {
        return refused;
    }
    auto* wrapped = new ThreadStart{start, argument};
    const int result = next(thread, attributes, StartWithSignalStack, wrapped);
    if (result != 0) {
        delete wrapped;
    }
    return result;
}
