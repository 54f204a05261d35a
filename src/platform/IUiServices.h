// The engine's only way to reach the user: messages, questions, dialogs, cursor, status,
// the text view, the message pump and the clock. The program implements it with widgets;
// tests use a scripted fake. Engine code receives it from the project root.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class TMsgKind { Information, Warning, Error, Confirmation };

// Which buttons a question offers.
enum class TMsgButtons { OK, OKCancel, YesNo, YesNoCancel };

// The answer to a question; closing the box counts as Cancel (or No where there is no Cancel).
enum class TMsgResult { OK, Cancel, Yes, No };

// The answer to a confirmation that offers "Don't show this message again".
struct TConfirmAnswer {
    bool Ok = false;            // closed with OK (closing the window is not OK)
    bool DontShowAgain = false; // the box was ticked, whichever way it closed
};

struct TFileFilter {
    std::string Description; // "Project files"
    std::string Patterns;    // "*.mpr" or "*.jpg *.jpeg"
};

class IUiServices {
public:
    virtual ~IUiServices() = default;

    // A message box with one OK button.
    virtual void ShowMessage(const std::string& text, TMsgKind kind = TMsgKind::Information) = 0;
    // A question; returns the button chosen.
    virtual TMsgResult Ask(const std::string& text, TMsgButtons buttons,
                           TMsgKind kind = TMsgKind::Confirmation) = 0;

    // The confirmation window with a "Don't show this message again" box: kind Confirmation
    // offers OK and Cancel, kind Information OK only. Lines of text are separated by '\n'.
    // Without a window of its own, an implementation asks a plain question and offers no box.
    virtual TConfirmAnswer ConfirmDlg(const std::string& text, TMsgKind kind) {
        TMsgResult r = Ask(
            text, kind == TMsgKind::Information ? TMsgButtons::OK : TMsgButtons::OKCancel, kind);
        return {r == TMsgResult::OK, false};
    }

    // File dialogs return the chosen full name, or nothing when cancelled.
    virtual std::optional<std::string> OpenFileDialog(const std::string& title,
                                                      const std::vector<TFileFilter>& filters,
                                                      const std::string& initialName) = 0;
    virtual std::optional<std::string> SaveFileDialog(const std::string& title,
                                                      const std::vector<TFileFilter>& filters,
                                                      const std::string& initialName,
                                                      const std::string& defaultExt) = 0;
    // Which filter (1 = the first) the user had chosen when the last file dialog closed.
    virtual int LastFilterIndex() const { return 1; }
    virtual std::optional<std::string> BrowseForFolder(const std::string& title,
                                                       const std::string& initialFolder) = 0;
    // Colours are 0x00BBGGRR.
    virtual std::optional<uint32_t> ChooseColor(uint32_t initial) = 0;

    virtual void Beep() = 0;
    // Busy (hourglass) cursor on or off; calls nest.
    virtual void SetBusyCursor(bool busy) = 0;
    virtual void SetStatusText(const std::string& text) = 0;

    // Diagnostic text view: append one line / clear / bring it up.
    virtual void TextViewAdd(const std::string& line) = 0;
    virtual void TextViewClear() = 0;
    virtual void TextViewShow() = 0;

    // Runs pending user-interface events (the loops' message pump).
    virtual void ProcessMessages() = 0;
    virtual void Sleep(int milliseconds) = 0;
    // Milliseconds of a monotonic clock.
    virtual int64_t TickCount() = 0;

    // Runs fn later on the GUI thread, in the order posted. Safe to call from any thread; this is
    // how worker threads reach anything that touches a window.
    virtual void PostToGui(std::function<void()> fn) = 0;
};

// Keeps the busy cursor up for one scope.
class TBusyCursorGuard {
public:
    explicit TBusyCursorGuard(IUiServices* ui) : Ui(ui) {
        if (Ui)
            Ui->SetBusyCursor(true);
    }
    ~TBusyCursorGuard() {
        if (Ui)
            Ui->SetBusyCursor(false);
    }
    TBusyCursorGuard(const TBusyCursorGuard&) = delete;
    TBusyCursorGuard& operator=(const TBusyCursorGuard&) = delete;

private:
    IUiServices* Ui;
};
