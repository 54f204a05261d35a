// The program's user-interface services: message boxes, questions, the confirmation window, file,
// folder and colour dialogs, the hourglass cursor, the status text, the text view, the message
// pump and the clock, as the engine asks for them.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include "IUiServices.h"
#include "MyTextView.h"

class QDialog;
class QLabel;
class QObject;
class QWidget;

class TMyUiServices : public IUiServices {
public:
    // Dialogs are parented to the window given (the main window), when there is one.
    explicit TMyUiServices(QWidget* window = nullptr);
    ~TMyUiServices() override;

    // Where the status text goes and which text view the engine fills; either may be absent.
    void SetStatusPanel(QLabel* panel) { StatusPanel = panel; }
    void SetTextView(TTextView* view) { TextView = view; }

    void ShowMessage(const std::string& text, TMsgKind kind = TMsgKind::Information) override;
    TMsgResult Ask(const std::string& text, TMsgButtons buttons,
                   TMsgKind kind = TMsgKind::Confirmation) override;
    TConfirmAnswer ConfirmDlg(const std::string& text, TMsgKind kind) override;
    std::optional<std::string> OpenFileDialog(const std::string& title,
                                              const std::vector<TFileFilter>& filters,
                                              const std::string& initialName) override;
    std::optional<std::string> SaveFileDialog(const std::string& title,
                                              const std::vector<TFileFilter>& filters,
                                              const std::string& initialName,
                                              const std::string& defaultExt) override;
    int LastFilterIndex() const override { return FilterIndex; }
    std::optional<std::string> BrowseForFolder(const std::string& title,
                                               const std::string& initialFolder) override;
    std::optional<uint32_t> ChooseColor(uint32_t initial) override;
    void Beep() override;
    void SetBusyCursor(bool busy) override;
    void SetStatusText(const std::string& text) override;
    void TextViewAdd(const std::string& line) override;
    void TextViewClear() override;
    void TextViewShow() override;
    void ProcessMessages() override;
    void Sleep(int milliseconds) override;
    int64_t TickCount() override;
    void PostToGui(std::function<void()> fn) override;

    // Nesting depth of the busy cursor.
    int BusyDepth() const { return Busy; }

    // Runs the file dialogs instead of their own event loop when set (tests play the user on
    // the real dialog); returns the dialog's result code.
    std::function<int(QDialog&)> ExecDialog;

private:
    void ShowNoDeviceNotice(const QString& title, const QString& body);
    QWidget* Parent() const;

    int FilterIndex = 1;
    bool NoDeviceTold = false;

    QPointer<QWidget> Window;
    QPointer<QLabel> StatusPanel;
    QPointer<TTextView> TextView;
    int Busy = 0;
    QElapsedTimer Clock;
};

// Opens a file or folder with the desktop's program for it, without waiting for the opener;
// when that fails, now or once the opener has answered, tells the user what + ": " + the reason.
// The context (a window that outlives the call) bounds how long the answer is waited for; ui
// must live as long.
void OpenOrTell(IUiServices& ui, QObject* context, const std::string& target,
                const std::string& what);

// The suffix of a filter's first pattern when it is a real one ("wav" of "*.wav"); empty for
// patterns that only stand for "any suffix" ("*.???", "*").
QString FilterSuffix(const QString& nameFilter);
// "Project file (*.mpr);;All files (*)" from the filter list.
QString FileFilterText(const std::vector<TFileFilter>& filters);
// 0x00BBGGRR to and from a colour.
QColor ColorFromBGR(uint32_t color);
uint32_t BGRFromColor(const QColor& color);
// A plain panel's fill colour, 0x00BBGGRR; setting it makes the panel paint its background.
void SetPanelColor(QWidget* panel, uint32_t color);
uint32_t PanelColor(const QWidget* panel);
