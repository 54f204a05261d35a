#include "MySubtitleEditor.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "IUiServices.h"
#include "MyCommonParams.h"
#include "MyTimeData.h"

std::string TSubtitleText::RowText(const TDataPoint& point) {
    std::string text;
    for (size_t i = 0; i < point.Lines.size(); ++i) {
        if (i > 0)
            text += '|';
        text += point.Lines[i];
    }
    text = CutShortString(text);
    return text.empty() ? EmptyText : text;
}

std::string TSubtitleText::HiddenText(const TDataPoint& point) {
    return point.Visible ? "" : "X";
}

std::vector<std::string> TSubtitleText::MemoToLines(const std::string& memo) {
    std::vector<std::string> lines;
    size_t from = 0;
    while (from <= memo.size()) {
        size_t end = memo.find('\n', from);
        if (end == std::string::npos)
            end = memo.size();
        std::string line = memo.substr(from, end - from);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!TrimText(line).empty())
            lines.push_back(line);
        from = end + 1;
    }
    return lines;
}

int TSubtitleText::RowOf(const TTimeData& curve, const TDataPoint* point) {
    return std::max(curve.IndexOf(point), 0);
}

// ---- TSubtitleEditor --------------------------------------------------------------------------

void TSubtitleEditor::Execute(QWidget* owner, IUiServices* ui, TChangeEvent onChange,
                              TDataPoint* currentPoint, TTimeData& curve) {
    TSubtitleEditor editor(owner, ui, std::move(onChange), currentPoint, curve);
    if (ExecHook)
        ExecHook(editor);
    else
        editor.exec();
}

TSubtitleEditor::TSubtitleEditor(QWidget* owner, IUiServices* ui, TChangeEvent onChange,
                                 TDataPoint* currentPoint, TTimeData& curve)
    : QDialog(owner), Ui(ui), OnChange(std::move(onChange)), CurrentPoint(currentPoint),
      Curve(curve) {
    setWindowTitle(QStringLiteral("Subtitle editor"));
    auto* v = new QVBoxLayout(this);
    Grid = new QTableWidget(0, 3, this);
    Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->verticalHeader()->hide();
    // The header's least section width follows the style and font and is wider than the
    // "X" column; it would win over the width that column is given.
    Grid->horizontalHeader()->setMinimumSectionSize(HiddenColumnWidth);
    // The first column numbers the key points; it holds no time.
    Grid->setHorizontalHeaderLabels(
        {QStringLiteral("Key"), QStringLiteral("X"), QStringLiteral("Subtitle lines")});
    Grid->horizontalHeaderItem(1)->setToolTip(QStringLiteral("X: the key point is hidden"));
    v->addWidget(Grid, 2);
    Memo = new QPlainTextEdit(this);
    v->addWidget(Memo, 1);
    auto* row = new QHBoxLayout;
    cbHidden = new QCheckBox(QStringLiteral("Disable node ??"), this);
    cbHidden->hide();
    cbShowChanges = new QCheckBox(QStringLiteral("Show changes"), this);
    cbShowChanges->setChecked(true);
    bClose = new QPushButton(QStringLiteral("Close"), this);
    row->addWidget(cbHidden);
    row->addWidget(cbShowChanges);
    row->addStretch();
    row->addWidget(bClose);
    v->addLayout(row);
    resize(500, 400);

    FillTable();
    connect(Grid, &QTableWidget::currentCellChanged, this,
            [this](int r, int, int, int) { SelectRow(r); });
    connect(Memo, &QPlainTextEdit::textChanged, this, [this] { MemoChange(); });
    connect(cbHidden, &QCheckBox::toggled, this, [this] { HiddenChange(); });
    connect(cbShowChanges, &QCheckBox::clicked, this, [this] { ReportChange(); });
    connect(bClose, &QPushButton::clicked, this, &QDialog::accept);
    Ready = true;
    const int first = TSubtitleText::RowOf(Curve, CurrentPoint);
    // The table's current row may already be the one wanted: select it explicitly.
    if (Grid->currentRow() == first)
        SelectRow(first);
    else
        Grid->setCurrentCell(first, 0);
}

void TSubtitleEditor::FillTable() {
    Grid->setRowCount(Curve.GetCount());
    for (int i = 0; i < Curve.GetCount(); ++i) {
        const TDataPoint& p = *Curve.GetPoint(i);
        const std::string texts[3] = {std::to_string(i + 1), TSubtitleText::HiddenText(p),
                                      TSubtitleText::RowText(p)};
        for (int c = 0; c < 3; ++c)
            Grid->setItem(i, c, new QTableWidgetItem(QString::fromStdString(texts[c])));
    }
}

void TSubtitleEditor::SelectRow(int row) {
    if (!Ready || Updating || row < 0 || row >= Curve.GetCount())
        return;
    CurrentPoint = Curve.GetPoint(row);
    Updating = true;
    Memo->clear();
    for (const std::string& line : CurrentPoint->Lines)
        Memo->appendPlainText(QString::fromStdString(line));
    cbHidden->setChecked(!CurrentPoint->Visible);
    Updating = false;
    ReportChange();
}

void TSubtitleEditor::MemoChange() {
    if (Updating || !CurrentPoint)
        return;
    CurrentPoint->Lines = TSubtitleText::MemoToLines(Memo->toPlainText().toStdString());
    const int row = Curve.IndexOf(CurrentPoint);
    Updating = true;
    if (row >= 0)
        Grid->item(row, 2)->setText(QString::fromStdString(TSubtitleText::RowText(*CurrentPoint)));
    ReportChange();
    Updating = false;
    Memo->setFocus();
}

void TSubtitleEditor::HiddenChange() {
    if (Updating || !CurrentPoint)
        return;
    CurrentPoint->Visible = !cbHidden->isChecked();
    const int row = Curve.IndexOf(CurrentPoint);
    if (row >= 0)
        Grid->item(row, 1)->setText(
            QString::fromStdString(TSubtitleText::HiddenText(*CurrentPoint)));
    ReportChange();
}

void TSubtitleEditor::ReportChange() {
    if (!Ready || !cbShowChanges->isChecked())
        return;
    // The form stays disabled and the busy cursor up while the change is reported, whichever
    // way the report ends.
    TBusyCursorGuard busy(Ui);
    setEnabled(false);
    auto enable = MakeScopeExit([this] { setEnabled(true); });
    if (OnChange && CurrentPoint)
        OnChange(CurrentPoint);
}

void TSubtitleEditor::FitColumns() {
    if (width() < 500)
        resize(500, height());
    Grid->setColumnWidth(1, HiddenColumnWidth);
    const int rest = Grid->width() - Grid->columnWidth(0) - Grid->columnWidth(1) - 32;
    Grid->setColumnWidth(2, std::max(rest, 20));
}

void TSubtitleEditor::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FitColumns();
}

void TSubtitleEditor::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FitColumns();
}
