// A user who is never there: every dialog comes back with nothing chosen, questions are
// declined, the pump and the cursor do nothing. Workers, build-time tools and benchmarks derive
// from it and give only what they do differently (where messages go, the clock, posting).
#pragma once

#include "IUiServices.h"

class TQuietUi : public IUiServices {
public:
    void ShowMessage(const std::string&, TMsgKind) override {}
    TMsgResult Ask(const std::string&, TMsgButtons, TMsgKind) override {
        return TMsgResult::Cancel;
    }
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
    void Sleep(int) override {}
    int64_t TickCount() override { return 0; }
    void PostToGui(std::function<void()> fn) override { fn(); }
};
