// The benchmarks' view of the user: nothing is asked, messages go to stderr, the message pump
// costs nothing, and the pause between frames is real only when asked for.
#pragma once

#include <chrono>
#include <cstdio>
#include <thread>

#include "MyQuietUi.h"

class TBenchUi : public TQuietUi {
public:
    bool RealSleep = false;

    void ShowMessage(const std::string& text, TMsgKind) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    TMsgResult Ask(const std::string&, TMsgButtons, TMsgKind) override { return TMsgResult::OK; }
    void Sleep(int ms) override {
        if (RealSleep)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    int64_t TickCount() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};
