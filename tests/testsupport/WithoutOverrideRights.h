#pragma once
// Permission bits bind root only without the capabilities that override
// them, and CI runs the tests as root. RunWithoutOverrideRights runs a piece
// of a test on a thread of its own that has given those capabilities up for
// good (capabilities belong to a thread, so the rest of the test program
// keeps them). Exceptions thrown by the piece reach the caller.

#include <exception>
#include <functional>
#include <thread>
#ifndef _WIN32
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace querlin::test {

inline void RunWithoutOverrideRights(const std::function<void()>& piece)
{
    std::exception_ptr failure;
    std::thread worker([&] {
#ifndef _WIN32
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        if (syscall(SYS_capget, &header, caps) == 0) {
            const unsigned overrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
            caps[0].effective &= ~overrides;
            caps[0].permitted &= ~overrides;
            caps[0].inheritable &= ~overrides;
            syscall(SYS_capset, &header, caps);
        }
#endif
        try {
            piece();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace querlin::test
