#include "MyWorkerThread.h"

int EffectiveThreadCount(int asked) {
    if (asked > 0)
        return asked;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? int(cores) : 1;
}

void TWorkerThread::Run() {
    Wait();
    FPending = true;
    {
        std::lock_guard<std::mutex> hold(Lock);
        Requested = true;
        Quit = false;
    }
    if (!Thread.joinable())
        Thread = std::thread([this] { Loop(); });
    else
        Changed.notify_all();
}

void TWorkerThread::Wait() {
    if (!FPending)
        return;
    std::exception_ptr failure;
    {
        std::unique_lock<std::mutex> hold(Lock);
        Changed.wait(hold, [this] { return !Requested; });
        std::swap(failure, Failure);
    }
    FPending = false;
    if (failure)
        std::rethrow_exception(failure);
}

void TWorkerThread::Stop() {
    if (!Thread.joinable())
        return;
    {
        std::unique_lock<std::mutex> hold(Lock);
        Changed.wait(hold, [this] { return !Requested; });
        Quit = true;
        Failure = nullptr; // nobody waits for it any more
    }
    Changed.notify_all();
    Thread.join();
    FPending = false;
}

void TWorkerThread::Loop() {
    std::unique_lock<std::mutex> hold(Lock);
    for (;;) {
        Changed.wait(hold, [this] { return Requested || Quit; });
        if (!Requested)
            return;
        hold.unlock();
        std::exception_ptr failure;
        try {
            Job();
        } catch (...) {
            failure = std::current_exception();
        }
        hold.lock();
        Failure = failure;
        Requested = false;
        Changed.notify_all();
    }
}
