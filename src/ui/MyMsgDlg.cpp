#include "MyMsgDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

std::vector<std::string> SplitMessageLines(const std::string& message) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (;;) {
        const size_t lf = message.find('\n', from);
        if (lf == std::string::npos) {
            lines.push_back(message.substr(from));
            return lines;
        }
        lines.push_back(message.substr(from, lf - from));
        from = lf + 1;
    }
}

// ---- TConfirmDlg --------------------------------------------------------------------------------

TConfirmDlg::TConfirmDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Confirmation"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(362, 113);

    auto* top = new QHBoxLayout;
    Image1 = new QLabel(this);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    Image1->setAlignment(Qt::AlignTop);
    top->addWidget(Image1, 0);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Blend into the window like a label.
    Memo1->viewport()->setAutoFillBackground(false);
    Memo1->setFocusPolicy(Qt::NoFocus);
    top->addWidget(Memo1, 1);

    auto* bottom = new QHBoxLayout;
    cbNoMore = new QCheckBox(QStringLiteral("Don't show this message again"), this);
    bottom->addWidget(cbNoMore, 1);
    bOK = new QPushButton(QStringLiteral("OK"), this);
    bOK->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("Cancel"), this);
    bottom->addWidget(bOK);
    bottom->addWidget(bCancel);
    connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(top, 1);
    layout->addLayout(bottom);
}

void TConfirmDlg::Setup(const std::string& message, TMsgKind kind) {
    QStringList lines;
    for (const std::string& line : SplitMessageLines(message))
        lines << QString::fromStdString(line);
    Memo1->setPlainText(lines.join(QLatin1Char('\n')));
    if (kind == TMsgKind::Information) {
        setWindowTitle(QStringLiteral("Information"));
        // OK alone, at the place Cancel would take: the right end of the row.
        bCancel->hide();
        Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    }
}

TConfirmAnswer TConfirmDlg::Answer() const {
    return {result() == QDialog::Accepted, cbNoMore->isChecked()};
}

// ---- TErrorDlg ----------------------------------------------------------------------------------

TErrorDlg::TErrorDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Error report"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    resize(368, 239);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    layout->addWidget(Memo1);
}

void TErrorDlg::SetLines(const std::vector<std::string>& lines) {
    QStringList text;
    for (const std::string& line : lines)
        text << QString::fromStdString(line);
    Memo1->setPlainText(text.join(QLatin1Char('\n')));
}
