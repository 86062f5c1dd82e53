// Threads that help the main thread with one step of loading.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Starts a thread running the function; throws std::system_error when the
// system refuses one (a process or container limit), as std::thread does.
// Tests put a starter of their own in its place.
using thread_starter = std::function<std::thread(std::function<void()>)>;

// Runs work(1) .. work(count) on threads of their own, as many of them as
// the system lets start: helpers 1 .. started(). The caller does what the
// others would have done, so a load never waits for a helper that could not
// start. They start with every signal blocked, so that the handlers run on
// the main thread only, and they are joined before the object goes away.
// What one of them throws is kept and thrown again on the main thread by
// join().
class helper_threads {
  public:
    helper_threads(unsigned count, const std::function<void(unsigned helper)>& work,
                   const thread_starter& start = {});
    helper_threads(const helper_threads&) = delete;
    helper_threads& operator=(const helper_threads&) = delete;
    ~helper_threads();

    unsigned started() const { return static_cast<unsigned>(threads_.size()); }
    // Whether every helper has returned, waiting up to timeout for it.
    bool wait_for(std::chrono::milliseconds timeout);
    // Waits for every helper, then throws what the first that failed threw.
    void join();

  private:
    void join_all();

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable finished_;
    unsigned running_ = 0;
    std::exception_ptr failure_;
};
