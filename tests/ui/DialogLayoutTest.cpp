// The dialogs at the size they open with: every control lies inside the window, gets at least
// its smallest size, and shows its whole caption in the font it is drawn with.
#include <QAbstractButton>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QStyleOptionComboBox>
#include <QTableWidget>

#include "DialogRig.h"
#include "MyFontDialog.h"
#include "MyProjProp.h"
#include "MySubtitleEditor.h"
#include "MyTimeData.h"

namespace {

std::string NameOf(const QWidget* w) {
    const QString text = qobject_cast<const QLabel*>(w) ? static_cast<const QLabel*>(w)->text()
                         : qobject_cast<const QAbstractButton*>(w)
                             ? static_cast<const QAbstractButton*>(w)->text()
                             : QString();
    return std::string(w->metaObject()->className()) + " \"" + text.toStdString() + "\"";
}

// The faults of dlg's visible controls, one a line; empty when nothing is cut.
std::string CutControls(QWidget& dlg) {
    std::string faults;
    for (QWidget* w : dlg.findChildren<QWidget*>()) {
        const bool control = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                             qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                             qobject_cast<QAbstractSpinBox*>(w) ||
                             qobject_cast<QAbstractScrollArea*>(w);
        // Parts of composite controls (a spin box's edit, a view's header) are theirs.
        QWidget* up = w->parentWidget();
        if (!control || !w->isVisibleTo(&dlg) || w->isWindow() ||
            qobject_cast<QAbstractSpinBox*>(up) || qobject_cast<QComboBox*>(up) ||
            qobject_cast<QAbstractScrollArea*>(up))
            continue;
        const QRect r(w->mapTo(&dlg, QPoint(0, 0)), w->size());
        if (!dlg.rect().contains(r))
            faults += NameOf(w) + " reaches outside the window\n";
        // What scrolls is never cut, only shorter.
        const QSize least = w->minimumSizeHint();
        if (!qobject_cast<QAbstractScrollArea*>(w) &&
            (w->width() < least.width() || w->height() < least.height()))
            faults += NameOf(w) + " is smaller than its least size\n";
        QString caption;
        if (auto* l = qobject_cast<QLabel*>(w); l && !l->wordWrap() && l->pixmap().isNull())
            caption = l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            caption = b->text();
        if (!caption.isEmpty() && w->fontMetrics().horizontalAdvance(caption) > w->width())
            faults += NameOf(w) + " cuts its caption\n";
    }
    return faults;
}

void ShowAtDefaultSize(QWidget& dlg) {
    dlg.show();
    Pump();
}

// A window the window manager may not resize gets no resize handle along its foot.
bool KeepsItsSize(const QWidget& dlg) {
    return dlg.minimumSize() == dlg.maximumSize() && dlg.size() == dlg.minimumSize();
}

} // namespace

TEST(DialogLayout, PropertyPagesShowEveryControlWhole) {
    TDialogProject p;
    TPropDlg dlg(&p.Ui);
    for (int page = 0; page < dlg.Notebook->count(); ++page) {
        dlg.Notebook->setCurrentIndex(page);
        ShowAtDefaultSize(dlg);
        EXPECT_EQ(CutControls(dlg), "") << PropPageNames[page];
        EXPECT_TRUE(KeepsItsSize(dlg)) << PropPageNames[page];
        dlg.hide();
    }
}

TEST(DialogLayout, FontAndSubtitleDialogsShowEveryControlWhole) {
    TFakeUiServices ui;
    TFontDialog font(&ui);
    ShowAtDefaultSize(font);
    EXPECT_EQ(CutControls(font), "");
    EXPECT_TRUE(KeepsItsSize(font));
    TTimeData curve;
    curve.ValueMode = vmText;
    curve.EnsurePoint();
    TSubtitleEditor subtitles(nullptr, &ui, {}, curve.GetPoint(0), curve);
    ShowAtDefaultSize(subtitles);
    EXPECT_EQ(CutControls(subtitles), "");
    // The columns say what they hold.
    for (int c = 0; c < 3; ++c)
        EXPECT_FALSE(subtitles.Grid->horizontalHeaderItem(c)->text().isEmpty()) << c;
}

// Every list of the output dialog's AVI page shows its chosen entry whole ("Common AVI 320 x 240
// pixels", the longest compressor name).
TEST(DialogLayout, OutputDialogListsShowTheirEntriesWhole) {
    TDialogProject p;
    auto reset = ResetHooks(TProjPropDlg::ExecHook);
    std::string cut;
    TProjPropDlg::ExecHook = [&cut](TProjPropDlg& d) {
        ShowAtDefaultSize(d);
        cut = CutControls(d);
        for (QComboBox* cb : {d.cbFPS, d.cbSize, d.cbVidComp, d.cbAudComp, d.cbAudFormat}) {
            for (int i = 0; i < cb->count(); ++i) {
                QStyleOptionComboBox o;
                o.initFrom(cb);
                const QRect field = cb->style()->subControlRect(QStyle::CC_ComboBox, &o,
                                                                QStyle::SC_ComboBoxEditField, cb);
                if (cb->fontMetrics().horizontalAdvance(cb->itemText(i)) > field.width())
                    cut += (QStringLiteral("\"") + cb->itemText(i) + QStringLiteral("\" is cut\n"))
                               .toStdString();
            }
        }
        return int(QDialog::Rejected);
    };
    TProjPropDlg dlg(*p.Root, p.Ui);
    EXPECT_FALSE(dlg.Execute());
    EXPECT_EQ(cut, "");
}
