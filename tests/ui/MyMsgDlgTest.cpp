#include "MyMsgDlg.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "MyCommonServices.h"

using Lines = std::vector<std::string>;

TEST(ConfirmDlg, SplitsTheMessageAtEveryLineFeed) {
    EXPECT_EQ(SplitMessageLines("a\n\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitMessageLines("a\n"), (Lines{"a", ""}));
    EXPECT_EQ(SplitMessageLines(""), Lines{""});
}

// The box ticked is reported whichever button closes; information shows only OK.
TEST(ConfirmDlg, TickedBoxIsReportedWhicheverButtonCloses) {
    TConfirmDlg info;
    info.Setup("Note", TMsgKind::Information);
    info.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(!info.bCancel->isVisible() && info.bOK->isVisible());
    for (auto [okButton, ticked] : {std::pair{false, true}, {true, false}, {true, true}}) {
        TConfirmDlg dlg;
        dlg.Setup("Sure?", TMsgKind::Confirmation);
        dlg.show();
        dlg.cbNoMore->setChecked(ticked);
        QTest::mouseClick(okButton ? dlg.bOK : dlg.bCancel, Qt::LeftButton);
        EXPECT_EQ(dlg.Answer().Ok, okButton);
        EXPECT_EQ(dlg.Answer().DontShowAgain, ticked);
    }
}

// Every keyed confirmation shows all its lines and the whole check-box caption with the fonts
// this platform has, in a window of at least the designed size, centred on the screen.
TEST(ConfirmDlg, EveryKeyedConfirmationFitsItsWindow) {
    std::string many = "Twelve lines";
    for (int i = 2; i <= 12; ++i)
        many += "\nline " + std::to_string(i);
    for (const std::string& text :
         {std::string(DlgHugeOutput.Text), std::string(DlgNoStopPoint.Text), many}) {
        SCOPED_TRACE(text);
        for (TMsgKind kind : {TMsgKind::Confirmation, TMsgKind::Information}) {
            TConfirmDlg dlg;
            dlg.Setup(text, kind);
            dlg.show();
            QCoreApplication::processEvents();
            EXPECT_GE(dlg.width(), TConfirmDlg::DesignWidth);
            EXPECT_GE(dlg.height(), TConfirmDlg::DesignHeight);
            EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize()); // a fixed dialog border
            QWidget* view = dlg.Memo1->viewport();
            const QFontMetrics fm(dlg.Memo1->font());
            const Lines lines = SplitMessageLines(text);
            EXPECT_GE(view->height(), int(lines.size()) * fm.lineSpacing());
            for (const std::string& line : lines)
                EXPECT_GE(view->width(), fm.horizontalAdvance(QString::fromStdString(line)))
                    << line;
            // Nothing left to scroll to: the last line is in view.
            EXPECT_EQ(dlg.Memo1->verticalScrollBar()->maximum(), 0);
            EXPECT_EQ(dlg.Memo1->horizontalScrollBar()->maximum(), 0);
            const QFontMetrics cbFm(dlg.cbNoMore->font());
            EXPECT_GE(dlg.cbNoMore->width(), dlg.cbNoMore->sizeHint().width());
            EXPECT_GE(dlg.cbNoMore->width(), cbFm.horizontalAdvance(dlg.cbNoMore->text()));
            EXPECT_EQ(dlg.cbNoMore->text(), "Don't show this message again");
            const QRect inside = dlg.rect();
            for (QWidget* w : std::vector<QWidget*>{dlg.cbNoMore, dlg.bOK, dlg.Memo1})
                EXPECT_TRUE(inside.contains(w->geometry())) << w->metaObject()->className();
            EXPECT_LE(dlg.cbNoMore->geometry().right(), dlg.bOK->geometry().left());
            const QPoint centre = dlg.screen()->availableGeometry().center();
            EXPECT_LE((dlg.frameGeometry().center() - centre).manhattanLength(), 2);
        }
    }
}

TEST(ErrorDlg, ShowsTheLoadMessagesOneALine) {
    TErrorDlg dlg;
    dlg.SetLines({"Can not open a.avi", "", "Can not open b.wav"});
    EXPECT_EQ(dlg.Memo1->toPlainText(), "Can not open a.avi\n\nCan not open b.wav");
    EXPECT_TRUE(dlg.Memo1->isReadOnly());
}
