// Shared setup of the dialog tests: a project on a tree of its own with the scripted user, the
// real main window on a scratch settings folder, and the reset of the dialogs' test hooks.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

#include "DlgAddObject.h"
#include "FakeUiServices.h"
#include "FakeWaveOut.h"
#include "ITreeItem.h"
#include "MainZunt.h"
#include "MyAVIReader.h"
#include "MyBase.h"
#include "MyCommonServices.h"
#include "MyEffectNodes.h"
#include "MyProjNode.h"
#include "MyProjProp.h"
#include "MyPropDlg.h"
#include "MyTimelineCommands.h"
#include "MyTreeItems.h"
#include "NumberedMovie.h"
#include "TempFolders.h"

inline void Pump() {
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents();
}

// Sets each hook back to empty when the scope ends.
template <typename... H> auto ResetHooks(H&... hooks) {
    return MakeScopeExit([&hooks...] { ((hooks = nullptr), ...); });
}

// A new project on a tree of its own, talking to the scripted user.
template <typename TUi = TFakeUiServices> struct TDialogProject {
    TMemTree Tree;
    TUi Ui;
    TTempDir Dir;
    std::unique_ptr<TProjectNode> Root =
        std::make_unique<TProjectNode>("Project", Tree.AddRoot("Project"));
    TDialogProject() {
        Root->Ui = &Ui;
        Root->New();
    }
    std::string File(const std::string& name) const { return Dir.Path + "/" + name; }
};

// The real main window, shown offscreen, on a scratch settings folder that also holds the
// test's files.
class TMainRig : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TMainForm>(&Ui);
        Form->show();
        Pump();
        Root = Form->GetProject();
    }
    void TearDown() override {
        Form.reset();
        EXPECT_TRUE(Ui.Answers.empty()) << "questions not asked";
        EXPECT_TRUE(Ui.FileAnswers.empty());
        EXPECT_TRUE(Ui.ConfirmAnswers.empty());
    }
    std::string File(const std::string& name) const { return Config.PathOf(name); }

    TScratchConfig Config;
    TFakeUiServices Ui;
    std::unique_ptr<TMainForm> Form;
    TProjectNode* Root = nullptr;
};
