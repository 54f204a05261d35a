// The subtitle editor: the text lines of every key point of a text curve in a table, one row a
// point, with a memo for the lines of the selected one. Every change is reported at once so the
// preview can follow. TSubtitleText holds the texts; TSubtitleEditor is the window over it.
#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class IUiServices;
class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class TDataPoint;
class TTimeData;

struct TSubtitleText {
    static constexpr const char* EmptyText = "<Empty>";

    // Column 2 of a point's row: its lines joined by "|", at most 255 bytes; "<Empty>" when it
    // has none.
    static std::string RowText(const TDataPoint& point);
    // Column 1: "X" for a hidden point.
    static std::string HiddenText(const TDataPoint& point);
    // The lines the memo's text stores: those with more than blanks, as typed.
    static std::vector<std::string> MemoToLines(const std::string& memo);
    // Table row (0 = the first point) of point in curve; the first row when it is not there.
    static int RowOf(const TTimeData& curve, const TDataPoint* point);
};

class TSubtitleEditor : public QDialog {
    Q_OBJECT
public:
    using TChangeEvent = std::function<void(TDataPoint* point)>;
    // Width of the "X" column, in pixels.
    static constexpr int HiddenColumnWidth = 20;

    // ui gives the busy cursor while a change is reported (may be null).
    TSubtitleEditor(QWidget* owner, IUiServices* ui, TChangeEvent onChange,
                    TDataPoint* currentPoint, TTimeData& curve);

    // Shows the editor modally on the curve and frees it.
    static void Execute(QWidget* owner, IUiServices* ui, TChangeEvent onChange,
                        TDataPoint* currentPoint, TTimeData& curve);
    // Tests replace the modal run: called with the filled editor.
    static inline std::function<void(TSubtitleEditor&)> ExecHook;

    TDataPoint* GetCurrentPoint() const { return CurrentPoint; }
    // Fills the table again from the curve.
    void FillTable();

    QTableWidget* Grid;
    QPlainTextEdit* Memo;
    QCheckBox* cbHidden; // "Disable node ??", not shown
    QCheckBox* cbShowChanges;
    QPushButton* bClose;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void SelectRow(int row);
    void MemoChange();
    void HiddenChange();
    void ReportChange();
    void FitColumns();

    IUiServices* Ui;
    TChangeEvent OnChange;
    TDataPoint* CurrentPoint;
    TTimeData& Curve;
    bool Ready = false;
    bool Updating = false;
};
