#pragma once
#include <functional>
#include <memory>

namespace platform {

// A repeating timer; invalidate() stops it for good. Destroying the handle also stops it.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
};

// The main loop: every callback runs on the main thread.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    // Runs fn on the main thread soon; safe to call from any thread.
    virtual void async(std::function<void()> fn) = 0;
    // Runs fn once on the main thread after the given delay.
    virtual void after(double seconds, std::function<void()> fn) = 0;
    // Runs fn every `seconds`, first after one interval, until the timer is invalidated.
    virtual std::unique_ptr<Timer> repeating(double seconds, std::function<void()> fn) = 0;
};

} // namespace platform
