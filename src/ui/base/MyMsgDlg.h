// Two small windows of the program: the confirmation window with "Don't show this message
// again" behind the keyed confirmations, and the "Error report" window that lists what went wrong
// while a project loaded.
#pragma once

#include <QDialog>
#include <QSize>
#include <functional>
#include <string>
#include <vector>

#include "IUiServices.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// Moves a window to the middle of the screen it is on (the primary one before it is shown).
void CentreOnScreen(QWidget* window);
// Gives a fixed-size window its designed client size, or more where its content needs more.
void FixAtLeast(QWidget* window, QSize designed);

class TConfirmDlg : public QDialog {
    Q_OBJECT
public:
    explicit TConfirmDlg(QWidget* parent = nullptr);

    // Fills the window: every line feed starts a new line of the text. Kind Information shows
    // the information picture, the caption "Information" and only OK, in Cancel's place.
    // Whether the message is suppressed is the keyed confirmation's business: it asks the
    // settings before a window is made and stores the ticked box after.
    void Setup(const std::string& message, TMsgKind kind);
    // How the window was closed, and whether the box was ticked (whichever way it closed).
    TConfirmAnswer Answer() const;

    // The client size of the design; the window grows beyond it only where the text needs it.
    static constexpr int DesignWidth = 362, DesignHeight = 113;

    QLabel* Image1;
    QPlainTextEdit* Memo1;
    QCheckBox* cbNoMore;
    QPushButton* bOK;
    QPushButton* bCancel;

protected:
    void showEvent(QShowEvent* event) override;
};

// The lines of a message, split at every line feed: an empty piece is an empty line, and a
// message ending in a line feed ends with an empty line.
std::vector<std::string> SplitMessageLines(const std::string& message);

class TErrorDlg : public QDialog {
    Q_OBJECT
public:
    explicit TErrorDlg(QWidget* parent = nullptr);

    void SetLines(const std::vector<std::string>& lines);
    // Shows the window modally (or hands it to ExecHook); returns when it is closed.
    int Execute();
    // Runs in place of the modal loop when set (tests play the user).
    static std::function<int(TErrorDlg&)> ExecHook;

    QPlainTextEdit* Memo1;

protected:
    void showEvent(QShowEvent* event) override;
};
