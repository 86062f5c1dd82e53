#include "helper_threads.hpp"

#include <pthread.h>
#include <signal.h>

#include <utility>

helper_threads::helper_threads(unsigned count, const std::function<void(unsigned helper)>& work,
                               const thread_starter& start) {
    threads_.reserve(count);
    // New threads take the mask of the thread that creates them.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    for (unsigned i = 1; i <= count; i++) {
        std::function<void()> body = [this, work, i] {
            try {
                work(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!failure_) failure_ = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(mutex_);
            running_--;
            finished_.notify_all();
        };
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_++;
        }
        try {
            threads_.push_back(start ? start(std::move(body)) : std::thread(std::move(body)));
        } catch (...) {
            // No more threads now (std::system_error at a process limit):
            // the ones started do the work with the caller.
            std::lock_guard<std::mutex> lock(mutex_);
            running_--;
            break;
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

helper_threads::~helper_threads() {
    join_all();
}

bool helper_threads::wait_for(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return finished_.wait_for(lock, timeout, [this] { return running_ == 0; });
}

void helper_threads::join() {
    join_all();
    std::exception_ptr failure;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failure = std::exchange(failure_, nullptr);
    }
    if (failure) std::rethrow_exception(failure);
}

void helper_threads::join_all() {
    for (std::thread& thread : threads_)
        if (thread.joinable()) thread.join();
}
