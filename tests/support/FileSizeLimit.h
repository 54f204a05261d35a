// A full disk for one test: the system refuses to let any file of the process grow past a size
// (SIGXFSZ ignored, so a write fails with EFBIG instead of ending the program). The limit and
// the signal's handler come back when the scope ends or Lift is called.
#pragma once

#include <csignal>
#include <sys/resource.h>

class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        if (::getrlimit(RLIMIT_FSIZE, &Was) != 0)
            return;
        OldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = Was;
        small.rlim_cur = bytes;
        Set = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
        if (!Set)
            std::signal(SIGXFSZ, OldHandler);
    }
    ~TFileSizeLimit() { Lift(); }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

    bool Active() const { return Set; }

    void Lift() {
        if (!Set)
            return;
        ::setrlimit(RLIMIT_FSIZE, &Was);
        std::signal(SIGXFSZ, OldHandler);
        Set = false;
    }

private:
    rlimit Was{};
    void (*OldHandler)(int) = SIG_DFL;
    bool Set = false;
};
