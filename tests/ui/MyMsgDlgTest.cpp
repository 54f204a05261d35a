#include "MyMsgDlg.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

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

TEST(ErrorDlg, ShowsTheLoadMessagesOneALine) {
    TErrorDlg dlg;
    dlg.SetLines({"Can not open a.avi", "", "Can not open b.wav"});
    EXPECT_EQ(dlg.Memo1->toPlainText(), "Can not open a.avi\n\nCan not open b.wav");
    EXPECT_TRUE(dlg.Memo1->isReadOnly());
}
