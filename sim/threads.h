// Thread creation as the simulated laptop grants it. A system out of resources
// refuses new threads; a test can make the next creations fail the same way,
// and std::thread then throws std::system_error as it would there.
#pragma once

#include <cerrno>

namespace sim {

class Threads {
public:
    // The next `count` thread creations in this process fail with `error`.
    void RefuseNext(unsigned count, int error = EAGAIN);
    void Reset();
};

}  // namespace sim
