// The benchmarks' view of the user: nothing is asked, messages go to stderr, the message pump
// costs nothing, and the pause between frames is real only when asked for.
#pragma once

#include <chrono>
#include <cstdio>
#include <thread>

#include "IUiServices.h"

class TBenchUi : public IUiServices {
public:
    bool RealSleep = false;

    void ShowMessage(const std::string& text, TMsgKind) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    TMsgResult Ask(const std::string&, TMsgButtons, TMsgKind) override { return TMsgResult::OK; }
    std::optional<std::string> OpenFileDialog(const std::string&, const std::vector<TFileFilter>&,
                                              const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> SaveFileDialog(const std::string&, const std::vector<TFileFilter>&,
                                              const std::string&, const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> BrowseForFolder(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    std::optional<uint32_t> ChooseColor(uint32_t) override { return std::nullopt; }
    void Beep() override {}
    void SetBusyCursor(bool) override {}
    void SetStatusText(const std::string&) override {}
    void TextViewAdd(const std::string&) override {}
    void TextViewClear() override {}
    void TextViewShow() override {}
    void ProcessMessages() override {}
    void Sleep(int ms) override {
        if (RealSleep) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    int64_t TickCount() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void PostToGui(std::function<void()> fn) override { fn(); }
};
