// One thread that makes every call into the driver. The driver's device lock belongs to
// the thread that opened the device and must be released by that thread, while SANE
// frontends may call the backend from any thread (and saned from one that differs from
// run to run); running every driver call here keeps the lock's owner fixed. It also lets
// sane_open give up waiting on an _Open that is stuck behind another program's lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace b58::sane {

class DriverThread {
  public:
    DriverThread();
    ~DriverThread();  // runs the jobs still queued, then ends the thread
    DriverThread(const DriverThread&) = delete;
    DriverThread& operator=(const DriverThread&) = delete;

    // Queues a job; the future gives its result.
    template <typename Fn>
    auto Post(Fn job) -> std::future<decltype(job())> {
        using Result = decltype(job());
        auto task = std::make_shared<std::packaged_task<Result()>>(std::move(job));
        std::future<Result> result = task->get_future();
        Enqueue([task] { (*task)(); });
        return result;
    }

    // Runs a job and waits for it.
    template <typename Fn>
    auto Call(Fn job) -> decltype(job()) {
        return Post(std::move(job)).get();
    }

  private:
    void Enqueue(std::function<void()> job);
    void Run();

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace b58::sane
