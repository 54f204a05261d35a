#include "MyUiServices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

#include "FileDialogRig.h"
#include "MyExportProgress.h"
#include "MyTextView.h"
#include "TempFolders.h"
#include "TrackProject.h"

TEST(UiServices, BusyCursorNestsAndNeverUnderflows) {
    TMyUiServices ui;
    ui.SetBusyCursor(true);
    ui.SetBusyCursor(true);
    ui.SetBusyCursor(false);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ui.SetBusyCursor(false);
    ui.SetBusyCursor(false);
    EXPECT_EQ(ui.BusyDepth(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // A cursor left up is taken down with the services.
    {
        TMyUiServices left;
        left.SetBusyCursor(true);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(UiServices, StatusTextAndTextViewReachTheirWidgets) {
    TMyUiServices ui;
    ui.SetStatusText("no panel yet"); // nothing to write to: ignored
    QLabel panel;
    TTextView view;
    ui.SetStatusPanel(&panel);
    ui.SetTextView(&view);
    ui.SetStatusText("Progress: 50%");
    EXPECT_EQ(panel.text(), "Progress: 50%");
    // The view keeps every line, empty ones too, until cleared.
    for (const char* line : {"", "chunk 1: 4096 bytes", "ünïcode"})
        ui.TextViewAdd(line);
    EXPECT_EQ(view.Lines(), (QStringList{"", "chunk 1: 4096 bytes", "ünïcode"}));
    EXPECT_TRUE(view.Memo1->isReadOnly());
    ui.TextViewClear();
    EXPECT_TRUE(view.Lines().isEmpty());
}

TEST(UiServices, PostedCallsRunOnTheGuiThreadInOrder) {
    TMyUiServices ui;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            ui.PostToGui([&, i] {
                order.push_back(i);
                threads.push_back(std::this_thread::get_id());
            });
    });
    worker.join();
    EXPECT_TRUE(order.empty());
    ui.ProcessMessages();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    for (auto id : threads)
        EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(UiServices, FiltersAndColours) {
    EXPECT_EQ(FileFilterText({{"Project file", "*.mpr"}, {"All files", "*"}}),
              "Project file (*.mpr);;All files (*)");
    EXPECT_EQ(ColorFromBGR(0x00FF8040), QColor(0x40, 0x80, 0xFF));
    EXPECT_EQ(BGRFromColor(QColor(0x40, 0x80, 0xFF)), 0x00FF8040u);
}

// The export's file dialog shows its filters as written and asks nothing itself: a file that
// exists gets one question, the export's own.
TEST(UiServices, AnExistingExportFileIsAskedAboutOnce) {
    TTempDir dir;
    const std::string existing = dir.File("out.avi");
    std::ofstream(existing) << "old";
    TMyUiServices ui;
    TAnsweringBoxes boxes;
    QStringList shown;
    ui.ExecDialog = [&](QDialog& d) {
        auto& dlg = static_cast<QFileDialog&>(d);
        if (auto* types = dlg.findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            for (int i = 0; i < types->count(); ++i)
                shown << types->itemText(i);
        return AcceptTyped(dlg, QString::fromStdString(existing));
    };
    TTrackProject project;
    TExportProgressModel model(*project.Root, ui);
    model.IsInUse = [](const std::string&) { return false; };
    std::string name;
    ASSERT_TRUE(model.Prepare(name, "avi"));
    EXPECT_EQ(name, existing);
    EXPECT_EQ(boxes.Texts,
              QStringList{"File " + QString::fromStdString(existing) + " exists. Overwrite?"});
    EXPECT_EQ(shown, (QStringList{"Targeted format (*.avi)", "all files (*.*)"}));
}

// A name typed without an extension opens the file with the first filter's.
TEST(UiServices, TheOpenDialogAddsTheFirstFiltersExtension) {
    TTempDir dir;
    const std::string project = dir.File("holiday.mpr");
    std::ofstream(project) << "x";
    TMyUiServices ui;
    ui.ExecDialog = [&](QDialog& d) {
        auto& dlg = static_cast<QFileDialog&>(d);
        dlg.setDirectory(QString::fromStdString(dir.Path));
        return AcceptTyped(dlg, QStringLiteral("holiday"));
    };
    EXPECT_EQ(ui.OpenFileDialog("Select project to open",
                                {{"Project file", "*.mpr"}, {"All files", "*"}}, ""),
              project);
}
