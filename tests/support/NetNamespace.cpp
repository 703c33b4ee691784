#include "tests/support/NetNamespace.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <sched.h>
#include <thread>

bool RunInOwnNetworkNamespace(const std::function<void()>& work, std::string& whyNot)
{
    bool made = false;
    std::exception_ptr failure;
    // A namespace belongs to the thread that makes it and to the threads it starts (the name
    // resolver's among them); the rest of the process stays where it was.
    std::thread thread([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            whyNot = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
            return;
        }
        made = true;
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    thread.join();
    if (failure)
        std::rethrow_exception(failure);
    return made;
}
