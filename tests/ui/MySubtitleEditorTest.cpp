// The subtitle editor: row texts, memo lines, and the change reports the preview follows.
#include "MySubtitleEditor.h"

#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTableWidget>

#include "DialogRig.h"
#include "MyTimeData.h"

namespace {

// A text curve with points at 0, 1 and 2 s: no lines; "one", "two"; hidden "three".
struct TTextCurve {
    TTimeData Curve;
    TTextCurve() {
        Curve.ValueMode = vmText;
        Curve.EnsurePoint();
        Curve.AddNew(1)->Lines = {"one", "two"};
        TDataPoint* p = Curve.AddNew(2);
        p->Lines = {"three"};
        p->Visible = false;
    }
    std::string Cell(TSubtitleEditor& e, int row, int col) {
        return e.Grid->item(row, col)->text().toStdString();
    }
};

} // namespace

TEST(SubtitleText, MemoLinesKeepTextAsTypedAndDropBlankLines) {
    // The memo, and its lines as the row shows them.
    const std::pair<const char*, const char*> cases[] = {
        {"", "<Empty>"},    {"   \n\t", "<Empty>"},         {"first\n\nsecond", "first|second"},
        {"text\n", "text"}, {"  padded  \n", "  padded  "}, {"dos\r\nline", "dos|line"}};
    TDataPoint p;
    for (const auto& [memo, row] : cases) {
        p.Lines = TSubtitleText::MemoToLines(memo);
        EXPECT_EQ(TSubtitleText::RowText(p), row) << memo;
    }
    EXPECT_EQ(p.Lines, (std::vector<std::string>{"dos", "line"}));
    p.Lines = {std::string(200, 'a'), std::string(100, 'b')};
    EXPECT_EQ(TSubtitleText::RowText(p).size(), 255u);
    TTimeData other;
    TDataPoint stranger;
    EXPECT_EQ(TSubtitleText::RowOf(other, &stranger), 0);
}

TEST(SubtitleEditor, RowsMemoAndChangeReports) {
    TTextCurve t;
    TFakeUiServices ui;
    std::vector<TDataPoint*> reports;
    auto reset = ResetHooks(TSubtitleEditor::ExecHook);
    TSubtitleEditor::ExecHook = [&](TSubtitleEditor& e) {
        ASSERT_EQ(e.Grid->rowCount(), 3);
        const char* expected[3][3] = {
            {"1", "", "<Empty>"}, {"2", "", "one|two"}, {"3", "X", "three"}};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(t.Cell(e, r, c), expected[r][c]) << r << "," << c;
        // Opened on the second point: its lines are in the memo, reported once.
        EXPECT_EQ(e.Memo->toPlainText().toStdString(), "one\ntwo");
        EXPECT_EQ(reports, std::vector<TDataPoint*>{t.Curve.GetPoint(1)});
        e.Memo->setPlainText(QStringLiteral(" hello \n\n world"));
        EXPECT_EQ(t.Curve.GetPoint(1)->Lines, (std::vector<std::string>{" hello ", " world"}));
        EXPECT_EQ(t.Cell(e, 1, 2), " hello | world");
        EXPECT_EQ(reports.size(), 2u);
        EXPECT_EQ(ui.BusyDepth, 0);

        e.cbShowChanges->setChecked(false);
        e.Grid->setCurrentCell(0, 0);
        e.Memo->setPlainText(QStringLiteral("   "));
        EXPECT_TRUE(t.Curve.GetPoint(0)->Lines.empty());
        EXPECT_EQ(t.Cell(e, 0, 2), "<Empty>");
        EXPECT_EQ(reports.size(), 2u);
        e.cbShowChanges->click(); // checking it reports at once
        EXPECT_EQ(reports.back(), t.Curve.GetPoint(0));

        e.Grid->setCurrentCell(2, 1);
        EXPECT_TRUE(e.cbHidden->isChecked());
        e.cbHidden->setChecked(false);
        EXPECT_TRUE(t.Curve.GetPoint(2)->Visible);
        EXPECT_EQ(t.Cell(e, 2, 1), "");
    };
    TSubtitleEditor::Execute(
        nullptr, &ui, [&](TDataPoint* p) { reports.push_back(p); }, t.Curve.GetPoint(1), t.Curve);
    EXPECT_EQ(reports.size(), 5u);
}

// Shown, and after the user widens it, the "X" column keeps its 20 pixels whatever the header's
// style would make of a one-letter caption; the lines column takes the rest less 32.
TEST(SubtitleEditor, HiddenColumnIsTwentyPixelsWide) {
    TTextCurve t;
    TFakeUiServices ui;
    auto reset = ResetHooks(TSubtitleEditor::ExecHook);
    int runs = 0;
    TSubtitleEditor::ExecHook = [&](TSubtitleEditor& e) {
        ++runs;
        e.show();
        QCoreApplication::processEvents();
        EXPECT_GE(e.width(), 500);
        EXPECT_EQ(e.Grid->columnWidth(1), 20);
        e.resize(700, e.height());
        QCoreApplication::processEvents();
        EXPECT_EQ(e.Grid->columnWidth(1), 20);
        EXPECT_EQ(e.Grid->columnWidth(2), e.Grid->width() - e.Grid->columnWidth(0) - 20 - 32);
    };
    TSubtitleEditor::Execute(nullptr, &ui, nullptr, t.Curve.GetPoint(0), t.Curve);
    EXPECT_EQ(runs, 1);
}
