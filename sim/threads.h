// Thread creation as the simulated laptop grants it. A system out of resources
// refuses new threads; a test can make the next creations fail the same way,
// and std::thread then throws std::system_error as it would there.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class Threads {
public:
    // The next `count` thread creations in this process fail with `error`.
    void RefuseNext(unsigned count, int error = EAGAIN);
    void Reset();
};

// A thread of this process as the kernel sees it.
struct ThreadState {
    uint32_t id = 0;
    std::string name;
    char state = '?';  // R running or ready, S sleeping, D uninterruptible wait, ...
};
// Every thread of this process, from /proc/self/task (threads that end while
// it is read are left out). Linux only.
std::vector<ThreadState> ThreadsOfThisProcess();

}  // namespace sim
