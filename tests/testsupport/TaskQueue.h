#pragma once
// The "GUI thread" of the record-set tests that need no Qt: the workers'
// tasks wait here, posted through the GUI poster it installs, until the
// test runs them.

#include "data/DataSet.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace querlin::test {

// The "GUI thread" of these tests: the workers' tasks wait here until the
// test runs them.
class TaskQueue {
public:
    TaskQueue() : state_(std::make_shared<State>())
    {
        // The workers' copies of the poster see the queue weakly: a task
        // posted once the queue is gone is dropped, as the program drops
        // what comes at its end, and no task left in it keeps its worker's
        // share of the queue alive (a cycle that would never be freed).
        data::SetGuiPoster([weak = std::weak_ptr<State>(state_)](int delayMs, std::function<void()> task) {
            const std::shared_ptr<State> state = weak.lock();
            if (!state)
                return;
            std::lock_guard<std::mutex> hold(state->lock);
            state->tasks.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs), std::move(task)});
            ++state->posted;
            state->changed.notify_all();
        });
    }
    ~TaskQueue()
    {
        data::SetGuiPoster({});
        // The tasks never run go outside the lock: they may hold the last
        // share of a worker's stream.
        std::deque<Task> left;
        std::lock_guard<std::mutex> hold(state_->lock);
        left.swap(state_->tasks);
    }

    // Runs the tasks due, waiting for them, until done() or the time is up.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60))
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            RunFor(std::chrono::milliseconds(5));
        }
        return true;
    }
    // Runs what falls due within this time.
    void RunFor(std::chrono::milliseconds time)
    {
        const auto end = std::chrono::steady_clock::now() + time;
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> hold(state_->lock);
                for (;;) {
                    auto due = state_->tasks.end();
                    for (auto i = state_->tasks.begin(); i != state_->tasks.end(); ++i)
                        if (i->due <= std::chrono::steady_clock::now()) {
                            due = i;
                            break;
                        }
                    if (due != state_->tasks.end()) {
                        task = std::move(due->task);
                        state_->tasks.erase(due);
                        break;
                    }
                    if (std::chrono::steady_clock::now() >= end)
                        return;
                    state_->changed.wait_for(hold, std::chrono::milliseconds(2));
                }
            }
            task();
        }
    }
    int Posted() const
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        return state_->posted;
    }

private:
    struct Task {
        std::chrono::steady_clock::time_point due;
        std::function<void()> task;
    };
    struct State {
        std::mutex lock;
        std::condition_variable changed;
        std::deque<Task> tasks;
        int posted = 0;
    };
    std::shared_ptr<State> state_;
};

} // namespace querlin::test
