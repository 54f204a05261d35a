// One helper thread that runs the same job again and again on request, so work of one operation
// (an export, a playback) can overlap the GUI thread: the GUI thread sets the job's inputs, runs
// it, does its own work, then waits for the job before it touches those inputs again. The thread
// starts with the first run and is joined by Stop or the destructor, so it never outlives the
// operation that owns it.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// How many threads an operation may keep busy: the machine's cores when asked for 0 or less.
int EffectiveThreadCount(int asked);

class TWorkerThread {
public:
    explicit TWorkerThread(std::function<void()> job) : Job(std::move(job)) {}
    ~TWorkerThread() { Stop(); }
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    // Starts one run of the job; a run still going is waited for first.
    void Run();
    // Returns once no run is going. An exception the job threw is raised here, once.
    void Wait();
    // True between Run and the Wait after it (as seen by the thread that runs and waits).
    bool Pending() const { return FPending; }
    // Waits for a run still going and ends the thread.
    void Stop();

private:
    void Loop();

    std::function<void()> Job;
    std::thread Thread;
    std::mutex Lock;
    std::condition_variable Changed;
    bool Requested = false;     // under Lock: a run is asked for or going
    bool Quit = false;          // under Lock
    std::exception_ptr Failure; // under Lock
    bool FPending = false;      // the owner's own view
};
