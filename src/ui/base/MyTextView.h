// The read-only text report window: one shared instance, created with the main window, into
// which the engine writes diagnostic lines (through the user-interface services) and which it
// brings up when a report is complete.
#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;
class QStatusBar;

class TTextView : public QDialog {
    Q_OBJECT
public:
    explicit TTextView(QWidget* parent = nullptr);

    void Clear();
    void AddLine(const std::string& s);
    // The lines shown, in order.
    QStringList Lines() const;

    QPlainTextEdit* Memo1;
    QStatusBar* StatusBar1;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // An empty document cannot tell no line from one empty line.
    int LineCount = 0;
};
