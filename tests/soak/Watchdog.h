#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace corvane::test {

/// Ends the process when the step it guards overruns its limit, so that a hang
/// fails the test run instead of stalling it until CI gives up.
///
/// Threads: the test thread calls arm() and disarm(); the watchdog waits on a
/// thread of its own.
class Watchdog {
public:
    Watchdog() : thread([this] { watch(); }) {}

    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            finished = true;
        }
        changed.notify_all();
        thread.join();
    }

    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    /// Starts the countdown for `step`, replacing any earlier one.
    void arm(std::string step, std::chrono::seconds limit)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            current = std::move(step);
            armedLimit = limit;
            deadline = std::chrono::steady_clock::now() + limit;
            armed = true;
        }
        changed.notify_all();
    }

    void disarm()
    {
        std::lock_guard<std::mutex> lock(mutex);
        armed = false;
    }

private:
    void watch()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!finished) {
            if (!armed) {
                changed.wait(lock);
                continue;
            }
            if (changed.wait_until(lock, deadline) == std::cv_status::timeout && armed && !finished &&
                std::chrono::steady_clock::now() >= deadline) {
                // A hung thread holds whatever it holds; report and end here
                // rather than try to unwind it.
                std::fprintf(stderr, "\nWATCHDOG: '%s' did not finish within %lld s; aborting the test.\n",
                             current.c_str(), static_cast<long long>(armedLimit.count()));
                std::fflush(stderr);
                std::abort();
            }
        }
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::string current;
    std::chrono::seconds armedLimit{0};
    std::chrono::steady_clock::time_point deadline;
    bool armed = false;
    bool finished = false;
    std::thread thread;
};

} // namespace corvane::test
