// Scripted stand-in for the user: answers questions and dialogs from queues filled by the test
// and records every message, so a test can check what the user would have seen. An unexpected
// question (none queued) fails the running test.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "IUiServices.h"

class TFakeUiServices : public IUiServices {
public:
    // Scripted answers, consumed in order.
    std::deque<TMsgResult> Answers;
    std::deque<std::optional<std::string>> FileAnswers;
    std::deque<std::optional<std::string>> FolderAnswers;
    std::deque<std::optional<uint32_t>> ColorAnswers;
    std::deque<TConfirmAnswer> ConfirmAnswers;

    // What the user saw.
    std::vector<std::string> Messages;
    std::vector<TMsgKind> MessageKinds; // one per message
    std::vector<std::string> Questions;
    // Texts of the confirmation windows shown, with their kinds.
    std::vector<std::string> Confirmations;
    std::vector<TMsgKind> ConfirmationKinds;
    std::vector<std::string> TextViewLines;
    std::vector<std::string> StatusTexts;
    int Beeps = 0;
    int BusyDepth = 0;
    int PumpCount = 0;
    int SleptMs = 0;
    // The clock advances only by Sleep and by AdvanceClock.
    int64_t ClockMs = 0;

    void AdvanceClock(int64_t ms) { ClockMs += ms; }

    void ShowMessage(const std::string& text, TMsgKind kind) override;
    TMsgResult Ask(const std::string& text, TMsgButtons buttons, TMsgKind kind) override;
    TConfirmAnswer ConfirmDlg(const std::string& text, TMsgKind kind) override;
    std::optional<std::string> OpenFileDialog(const std::string& title,
                                              const std::vector<TFileFilter>& filters,
                                              const std::string& initialName) override;
    std::optional<std::string> SaveFileDialog(const std::string& title,
                                              const std::vector<TFileFilter>& filters,
                                              const std::string& initialName,
                                              const std::string& defaultExt) override;
    // The filter the scripted user "chose" in file dialogs.
    int FilterIndex = 1;
    int LastFilterIndex() const override { return FilterIndex; }
    std::optional<std::string> BrowseForFolder(const std::string& title,
                                               const std::string& initialFolder) override;
    std::optional<uint32_t> ChooseColor(uint32_t initial) override;
    void Beep() override { ++Beeps; }
    void SetBusyCursor(bool busy) override { BusyDepth += busy ? 1 : -1; }
    void SetStatusText(const std::string& text) override { StatusTexts.push_back(text); }
    void TextViewAdd(const std::string& line) override { TextViewLines.push_back(line); }
    void TextViewClear() override { TextViewLines.clear(); }
    void TextViewShow() override {}
    void ProcessMessages() override { ++PumpCount; }
    void Sleep(int milliseconds) override {
        SleptMs += milliseconds;
        ClockMs += milliseconds;
    }
    int64_t TickCount() override { return ClockMs; }

    // Posted calls wait in a queue until the test runs them, as a GUI thread would.
    void PostToGui(std::function<void()> fn) override;
    // Runs the calls posted so far (and any they post), in order; returns how many ran.
    int RunPosted();
    size_t PostedCount();

private:
    std::mutex PostedLock;
    std::deque<std::function<void()>> Posted;
};
