// Whether another thread of this process is blocked, for tests that must act
// only once a reader waits in the kernel.
#pragma once

#include <sys/types.h>

#include <fstream>
#include <iterator>
#include <string>

// Whether the thread is asleep in the kernel (state 'S' in /proc), as a
// reader blocked in read or poll is.
inline bool thread_sleeping(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
}
