#include "SoundThread.h"

#include <deque>
#include <memory>
#include <mutex>

#include "Sync.h"

namespace {

DWORD WINAPI RunThread(LPVOID pParam) {
    std::unique_ptr<std::function<void()>> pFn(static_cast<std::function<void()>*>(pParam));
    (*pFn)();
    return 0;
}

// One worker and its jobs. Lives as long as the process: a job still stuck in a call when the
// process ends is simply dropped with it. The queue's lock is held only to add or take a job,
// never during one. hJobPosted is set after each post; as only the worker waits on it, an
// auto-reset event loses no post: one set while a job runs wakes it once more.
struct JobQueue {
    CCriticalSection lock;
    CUniqueHandle<HANDLE, &CloseHandle> hJobPosted{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    std::deque<std::function<void()>> jobs;

    std::function<void()> TakeJob() {
        std::lock_guard hold(lock);
        if (jobs.empty())
            return {};
        std::function<void()> job = std::move(jobs.front());
        jobs.pop_front();
        return job;
    }

    void Run() {
        for (;;) {
            if (std::function<void()> job = TakeJob())
                job();
            else if (WaitForSingleObject(hJobPosted.get(), INFINITE) == WAIT_FAILED)
                Sleep(1); // no event could be had: look again rather than spin
        }
    }
};

JobQueue* StartQueue() {
    auto* pQueue = new JobQueue;
    StartThread([pQueue] { pQueue->Run(); });
    return pQueue;
}

void Post(JobQueue& queue, std::function<void()> job) {
    {
        std::lock_guard hold(queue.lock);
        queue.jobs.push_back(std::move(job));
    }
    SetEvent(queue.hJobPosted.get());
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
    static JobQueue* s_pQueue = StartQueue();
    Post(*s_pQueue, std::move(job));
}

void PostTimerJob(std::function<void()> job) {
    static JobQueue* s_pQueue = StartQueue();
    Post(*s_pQueue, std::move(job));
}

void PostCheckJob(std::function<void()> job) {
    static JobQueue* s_pQueue = StartQueue();
    Post(*s_pQueue, std::move(job));
}
