#include "SoundThread.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace {

DWORD WINAPI RunThread(LPVOID pParam) {
    std::unique_ptr<std::function<void()>> pFn(static_cast<std::function<void()>*>(pParam));
    (*pFn)();
    return 0;
}

// Lives as long as the process: a job still stuck in a call when the process ends is simply
// dropped with it. The queue's lock is held only to add or take a job, never during one.
struct SoundQueue {
    std::mutex mutex;
    std::condition_variable cvJob;
    std::deque<std::function<void()>> jobs;

    void Run() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex);
                cvJob.wait(lock, [this] { return !jobs.empty(); });
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            job();
        }
    }
};

SoundQueue& TheSoundQueue() {
    static SoundQueue* s_pQueue = [] {
        auto* pQueue = new SoundQueue;
        StartThread([pQueue] { pQueue->Run(); });
        return pQueue;
    }();
    return *s_pQueue;
}

} // namespace

CUniqueThread StartThread(std::function<void()> fn) {
    auto* pFn = new std::function<void()>(std::move(fn));
    HANDLE hThread = CreateThread(nullptr, 0, RunThread, pFn, 0, nullptr);
    if (!hThread)
        delete pFn;
    return CUniqueThread(hThread);
}

void PostSoundJob(std::function<void()> job) {
    SoundQueue& queue = TheSoundQueue();
    {
        std::lock_guard lock(queue.mutex);
        queue.jobs.push_back(std::move(job));
    }
    queue.cvJob.notify_one();
}
