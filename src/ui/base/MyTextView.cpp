#include "MyTextView.h"

#include <QFont>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include "MyMsgDlg.h"

TTextView::TTextView(QWidget* parent) : QDialog(parent) {
    // System menu and maximise only.
    setWindowFlags(Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font(QStringLiteral("Courier New"), 8);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    Memo1->setFont(font);
    layout->addWidget(Memo1, 1);
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);
    layout->addWidget(StatusBar1);
    resize(480, 360);
}

void TTextView::Clear() {
    Memo1->clear();
    LineCount = 0;
}

void TTextView::AddLine(const std::string& s) {
    // Block by block, as appending to an empty document would swallow a leading empty line.
    QTextCursor end(Memo1->document());
    end.movePosition(QTextCursor::End);
    if (LineCount > 0)
        end.insertBlock();
    end.insertText(QString::fromStdString(s));
    ++LineCount;
}

QStringList TTextView::Lines() const {
    if (LineCount == 0)
        return {};
    return Memo1->toPlainText().split(QLatin1Char('\n'));
}

void TTextView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window with a parent opens over it; the report belongs in the middle of the screen.
    CentreOnScreen(this);
}
