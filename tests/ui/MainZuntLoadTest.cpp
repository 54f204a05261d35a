// Opening projects in the main window when the file is refused or names a compressor that is
// not installed: what the user is asked afterwards, and what a Save does.
#include "MainZunt.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FakeUiServices.h"
#include "MyCommonParamsPart.h"
#include "MyMsgDlg.h"
#include "MyProjNode.h"
#include "TempFolders.h"

namespace {

class MainWindowLoad : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TMainForm>(&Ui);
        Form->show();
        QCoreApplication::processEvents();
        Root = Form->GetProject();
    }
    void TearDown() override {
        Form.reset();
        EXPECT_TRUE(Ui.Answers.empty()) << "questions not asked";
        EXPECT_TRUE(Ui.FileAnswers.empty()) << "dialogs not shown";
    }
    void AddBlank() {
        Root->VideoTrack->AddNode("Black frame", amLastChild, nkBlank)->UserDuration = 1;
        Form->RefreshProject(true);
    }
    std::string File(const std::string& name) const { return Config.PathOf(name); }

    TScratchConfig Config;
    TFakeUiServices Ui;
    std::unique_ptr<TMainForm> Form;
    TProjectNode* Root = nullptr;
};

} // namespace

// A film picked as a project ("All files") is refused unread; the project keeps no name, so the
// next Save asks for one instead of writing over the film.
TEST_F(MainWindowLoad, AFileTooLargeForAProjectIsRefusedAndKeepsNoName) {
    const std::string film = File("film.avi");
    std::ofstream(film) << "RIFF";
    ASSERT_EQ(::truncate(film.c_str(), TProjectNode::MaxProjectFileBytes + 1), 0);
    Ui.FileAnswers = {film};
    Form->sbOpenProj1Click();
    EXPECT_EQ(Root->FileName, "");
    EXPECT_EQ(Form->ErrorDlg->Memo1->toPlainText().toStdString().rfind("Can not open " + film, 0),
              0u);

    AddBlank();
    const std::string saved = File("new.mpr");
    Ui.FileAnswers = {saved};
    Form->sbSaveProj1Click();
    EXPECT_EQ(Root->FileName, saved);
    EXPECT_TRUE(std::filesystem::exists(saved));
    EXPECT_EQ(std::filesystem::file_size(film), uint64_t(TProjectNode::MaxProjectFileBytes + 1));
}

// The compressor stored in the project is missing here: the user is told once, and closing the
// unchanged project asks no save question.
TEST_F(MainWindowLoad, AMissingCompressorLeavesTheProjectUnmodified) {
    const std::string name = File("p.mpr");
    AddBlank();
    Root->VideoFourCC = 0x5A5A5A5A;
    Root->CompressorName = "Gone codec";
    ASSERT_TRUE(Root->SaveToFile(name));
    Ui.Answers = {TMsgResult::OK, TMsgResult::OK};
    Ui.FileAnswers = {name};
    Form->sbOpenProj1Click();
    EXPECT_EQ(Root->FileName, name);
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_EQ(Ui.Messages[0].rfind("The selected project video compressor \"Gone codec\"", 0), 0u);
    EXPECT_TRUE(Form->close());
    EXPECT_EQ(Ui.Questions,
              (std::vector<std::string>{"Close current project?", "Close current project?"}));
}
