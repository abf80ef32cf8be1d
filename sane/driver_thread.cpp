#include "driver_thread.h"

namespace b58::sane {

DriverThread::DriverThread() : thread_([this] { Run(); }) {}

DriverThread::~DriverThread() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        ending_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void DriverThread::Enqueue(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void DriverThread::Run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [this] { return ending_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

}  // namespace b58::sane
