#include "MyMsgDlg.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QWindow>
#include <cmath>

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

void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

namespace {

// A nested layout keeps its measures until it is told they changed.
void InvalidateDeep(QLayout* layout) {
    for (int i = 0; i < layout->count(); ++i)
        if (QLayout* inner = layout->itemAt(i)->layout())
            InvalidateDeep(inner);
    layout->invalidate();
}

} // namespace

void FixAtLeast(QWidget* window, QSize designed) {
    if (QLayout* layout = window->layout()) {
        InvalidateDeep(layout);
        designed = designed.expandedTo(layout->totalMinimumSize());
    }
    window->setFixedSize(designed);
}

// ---- TConfirmDlg --------------------------------------------------------------------------------

TConfirmDlg::TConfirmDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Confirmation"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    auto* top = new QHBoxLayout;
    Image1 = new QLabel(this);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    Image1->setAlignment(Qt::AlignTop);
    top->addWidget(Image1, 0);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    // Every line is shown whole: the window grows to the text instead of scrolling it.
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Blend into the window like a label.
    Memo1->viewport()->setAutoFillBackground(false);
    Memo1->setFocusPolicy(Qt::NoFocus);
    top->addWidget(Memo1, 1);

    auto* bottom = new QHBoxLayout;
    cbNoMore = new QCheckBox(QStringLiteral("Don't show this message again"), this);
    // The caption is never cut: the box keeps the width its whole text needs.
    cbNoMore->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
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
    FixAtLeast(this, {DesignWidth, DesignHeight});
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
    // The text's own extent, measured with the font this platform gives the window.
    const QFontMetrics fm(Memo1->font());
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, fm.horizontalAdvance(line));
    // The height as the text's own layout stacks the lines.
    QTextDocument* doc = Memo1->document();
    qreal height = 0;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        height += doc->documentLayout()->blockBoundingRect(b).height();
    const int margin = static_cast<int>(std::ceil(doc->documentMargin())) * 2;
    const int frame = Memo1->frameWidth() * 2;
    Memo1->setMinimumSize(width + margin + frame + 2,
                          static_cast<int>(std::ceil(height)) + margin + frame + 2);
    FixAtLeast(this, {DesignWidth, DesignHeight});
}

void TConfirmDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CentreOnScreen(this);
}

TConfirmAnswer TConfirmDlg::Answer() const {
    return {result() == QDialog::Accepted, cbNoMore->isChecked()};
}

// ---- TErrorDlg ----------------------------------------------------------------------------------

TErrorDlg::TErrorDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Error report"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(368, 239);
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

std::function<int(TErrorDlg&)> TErrorDlg::ExecHook;

int TErrorDlg::Execute() {
    return ExecHook ? ExecHook(*this) : exec();
}

void TErrorDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CentreOnScreen(this);
}
