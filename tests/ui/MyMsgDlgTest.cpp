#include "MyMsgDlg.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "MyCommonParamsPart.h"

using Lines = std::vector<std::string>;

TEST(ConfirmDlg, SplitsTheMessageAtEveryLineFeed) {
    EXPECT_EQ(SplitMessageLines("one"), Lines{"one"});
    EXPECT_EQ(SplitMessageLines("a\n\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitMessageLines("a\n"), (Lines{"a", ""}));
    EXPECT_EQ(SplitMessageLines(""), Lines{""});
    EXPECT_EQ(SplitMessageLines(std::string(DlgNoStopPoint.Text)).size(), 4u);

    TConfirmDlg dlg;
    dlg.Setup(std::string(DlgHugeOutput.Text), TMsgKind::Confirmation);
    EXPECT_EQ(dlg.Memo1->toPlainText(),
              "Output file will be saved as uncompressed (Can be set in \nproject property). "
              "This option will produce a huge file.\nContinue exporting?");
    EXPECT_EQ(dlg.windowTitle(), "Confirmation");
}

TEST(ConfirmDlg, InformationShowsOnlyOkAtCancelsPlace) {
    TConfirmDlg question;
    question.Setup("Sure?", TMsgKind::Confirmation);
    question.show();
    TConfirmDlg info;
    info.Setup("Note", TMsgKind::Information);
    info.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(info.windowTitle(), "Information");
    EXPECT_FALSE(info.bCancel->isVisible());
    EXPECT_TRUE(info.bOK->isVisible());
    EXPECT_EQ(info.bOK->geometry(), question.bCancel->geometry());
    EXPECT_TRUE(question.bCancel->isVisible());
}

TEST(ConfirmDlg, TickedBoxIsReportedWhicheverButtonCloses) {
    TConfirmDlg dlg;
    dlg.Setup("Sure?", TMsgKind::Confirmation);
    dlg.show();
    dlg.cbNoMore->setChecked(true);
    QTest::mouseClick(dlg.bCancel, Qt::LeftButton);
    TConfirmAnswer a = dlg.Answer();
    EXPECT_FALSE(a.Ok);
    EXPECT_TRUE(a.DontShowAgain);

    TConfirmDlg ok;
    ok.Setup("Sure?", TMsgKind::Confirmation);
    ok.show();
    QTest::mouseClick(ok.bOK, Qt::LeftButton);
    a = ok.Answer();
    EXPECT_TRUE(a.Ok);
    EXPECT_FALSE(a.DontShowAgain);
}

TEST(ErrorDlg, ShowsTheLoadMessagesOneALine) {
    TErrorDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "Error report");
    dlg.SetLines({"Can not open a.avi", "", "Can not open b.wav"});
    EXPECT_EQ(dlg.Memo1->toPlainText(), "Can not open a.avi\n\nCan not open b.wav");
    EXPECT_TRUE(dlg.Memo1->isReadOnly());
}
