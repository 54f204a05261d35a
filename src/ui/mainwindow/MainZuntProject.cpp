// The main window's project commands: new, open, save and save as, the movie, sound and other
// exports, the project's output settings, and the flow that adds an object to the project.
#include "MainZunt.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QToolButton>
#include <filesystem>

#include "MyCommonServices.h"
#include "MyExportProgress.h"
#include "MyMovieNode.h"
#include "MyMsgDlg.h"
#include "MyProjProp.h"
#include "MyPropDlg.h"
#include "MySoundNode.h"
#include "MyTimelineLink.h"
#include "MyTreeItems.h"
#include "MyUiServices.h"

namespace {

std::string FileNameOnly(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

} // namespace

// ---- project commands ---------------------------------------------------------------------------

bool TMainForm::SaveIfModified(bool askClose) {
    if (askClose && Project->GetDuration() > 0 &&
        Ui->Ask("Close current project?", TMsgButtons::OKCancel, TMsgKind::Confirmation) !=
            TMsgResult::OK)
        return false;
    if (!Project->IsModified())
        return true;
    switch (Ui->Ask("Current Project has been modified. Save it first?", TMsgButtons::YesNoCancel,
                    TMsgKind::Confirmation)) {
    case TMsgResult::Yes:
        if (Project->FileName.empty())
            return SaveProjectAs();
        return Project->SaveToFile(Project->FileName);
    case TMsgResult::No:
        return true;
    default:
        return false;
    }
}

void TMainForm::sbNewProj1Click() {
    if (Ui->Ask("Close project " + Project->FileName + " and create a new one?",
                TMsgButtons::OKCancel, TMsgKind::Confirmation) != TMsgResult::OK)
        return;
    if (SaveIfModified(false))
        NewEmptyProject();
}

bool TMainForm::NewEmptyProject() {
    sbArrange->setChecked(true);
    TimelineLink->SetAdjustMode(false);
    if (!Project->Clear())
        return false;
    Project->New();
    Ui->ProcessMessages();
    ShowNewProject();
    return true;
}

void TMainForm::ShowNewProject() {
    auto* root = static_cast<TTreeWidgetItem*>(Project->Item);
    TreeView1->setCurrentItem(root);
    root->setExpanded(true);
    RefreshProject(true);
    TimelineLink->SetFramePos(0);
    TimelineLink->SetZoomLevel(1.0L);
    StatusPanels[2]->setText(QStringLiteral("Project: New empty project"));
}

void TMainForm::sbOpenProj1Click() {
    if (!SaveIfModified(true))
        return;
    const std::string start = Settings ? Settings->ReadString("Recents", "ProjectFile", "") : "";
    const std::optional<std::string> name = Ui->OpenFileDialog(
        "Select project to open", {{"Project file", "*.mpr"}, {"All files", "*"}}, start);
    if (!name)
        return;
    if (!Project->Clear())
        return;
    sbArrange->setChecked(true);
    TimelineLink->ResetEditor();
    TimelineLink->SetAdjustMode(false);
    bool loaded = false;
    {
        TBusyCursorGuard cursor(Ui);
        LoadMessages.Clear();
        // A failed load leaves a new empty project and says why in the load messages.
        loaded = Project->LoadFromFile(*name);
    }
    const auto showMessages = [this] {
        if (LoadMessages.Count() == 0)
            return;
        ErrorDlg->SetLines(LoadMessages.Lines);
        ErrorDlg->Execute();
    };
    if (!loaded) {
        // Nothing of the old project stays on show beside the new one, and the file that did not
        // open is not offered as the last project.
        ShowNewProject();
        showMessages();
        return;
    }
    if (Settings)
        Settings->WriteString("Recents", "ProjectFile", *name);
    // The user reads what went wrong before the project is shown.
    showMessages();
    TimelineLink->SetFramePos(0);
    TimelineLink->SetZoomLevel(1.0L);
    RefreshProject(true);
    if (TreeView1->isEnabled() && TreeView1->focusPolicy() != Qt::NoFocus)
        TreeView1->setFocus();
    auto* root = static_cast<TTreeWidgetItem*>(Project->Item);
    TreeView1->setCurrentItem(root);
    root->setExpanded(true);
    SetProjectStatus();
    Ui->ProcessMessages();
    LastRenderedFrame = -1;
    if (!Project->FileName.empty())
        root->SetText("Project " + FileNameOnly(Project->FileName));
}

void TMainForm::sbSaveProj1Click() {
    if (!Project->FileName.empty())
        Project->Save();
    else
        SaveProjectAs();
}

namespace {
// Editing stays off for one command and comes back however the command ends.
auto EditingOff(TMainForm& form) {
    form.EnableEditing(false);
    return MakeScopeExit([&form] { form.EnableEditing(true); });
}
} // namespace

std::optional<std::string> TMainForm::AskWaveFile(const std::string& title, bool& raw) {
    const std::string start = Settings ? Settings->ReadString("Recents", "WaveFile", "") : "";
    const std::optional<std::string> name = Ui->SaveFileDialog(
        title, {{"Wav audio file (*.wav)", "*.wav"}, {"Without header", "*.???"}}, start, "wav");
    if (!name)
        return std::nullopt;
    if (Settings)
        Settings->WriteString("Recents", "WaveFile", *name);
    raw = Ui->LastFilterIndex() > 1;
    return name;
}

void TMainForm::WriteWAV1Click() {
    bool raw = false;
    const std::optional<std::string> name = AskWaveFile("Enter Wav output file", raw);
    if (!name)
        return;
    auto editing = EditingOff(*this);
    TStatusPanel panel{
        [this] { return StatusPanels[2]->text().toStdString(); },
        [this](const std::string& s) { StatusPanels[2]->setText(QString::fromStdString(s)); }};
    // The project's own length, not the timeline strip's (which is never shorter than the view).
    Project->ExportWave(raw, 0, &panel, *name, Project->GetFrameCount());
}

void TMainForm::Otherexports1Click() {
    auto* movie = dynamic_cast<TMovieNode*>(Project->GetActiveNode());
    miExtractAudio->setEnabled(movie && movie->HasAudio());
}

void TMainForm::Extractaudio1Click() {
    auto* movie = dynamic_cast<TMovieNode*>(Project->GetActiveNode());
    if (!movie)
        return;
    bool raw = false;
    const std::optional<std::string> name = AskWaveFile("Enter Wav output file", raw);
    if (!name)
        return;
    auto editing = EditingOff(*this);
    if (movie->ExtractAudio(raw, *name, *Ui)) {
        if (Ui->Ask("File " + *name + " is ready. Play the result?", TMsgButtons::YesNo,
                    TMsgKind::Confirmation) == TMsgResult::Yes)
            OpenOrTell(*Ui, this, *name, "Can not play " + *name);
    } else {
        Ui->ShowMessage("Fail to produce " + *name, TMsgKind::Error);
    }
}

bool TMainForm::RunOutputDialog() {
    bool accepted = false;
    {
        TProjPropDlg dlg(*Project, *Ui, this);
        accepted = dlg.Execute();
    }
    // A new rate changes the film's frame count: the timeline and ">|" take it at once.
    RefreshProject(false);
    return accepted;
}

void TMainForm::Export1Click() {
    if (!RunOutputDialog())
        return;
    TExportProgress progress(*Project, *Ui, this);
    if (OutputFileName.empty() && Settings)
        OutputFileName = Settings->ReadString("Recents", "OutputFile", "");
    if (!Project->IsWMVOutput() && Project->GetAviCompress().GetFourCC() == 0 &&
        !ShowConfirm(DlgHugeOutput, Ui))
        return;
    if (!progress.Prepare(
            OutputFileName, [this](TFrameReport& r) { FrameRendered(r); },
            [this](const TBitmap* b) { PreviewBlit(b); },
            TExportProgressModel::OutputExtension(*Project)))
        return;
    if (Settings)
        Settings->WriteString("Recents", "OutputFile", OutputFileName);
    const int32_t pos = TimelineLink->GetFramePos();
    progress.Execute();
    TimelineLink->SetFramePos(pos);
    pBackground->repaint();
    Ui->ProcessMessages();
    const int32_t frames = Project->GetFrameCount();
    if (TimelineLink->GetFramePos() > frames)
        TimelineLink->SetFramePos(frames);
    // The preview may still show exported pictures: the cursor's frame is drawn again.
    PostSetFrame(-1);
}

void TMainForm::Projectproperty1Click() {
    QTreeWidgetItem* selected = TreeView1->currentItem();
    TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(Project->Item));
    RunOutputDialog();
    SendSetFrame(-1);
    if (selected)
        TreeView1->setCurrentItem(selected);
}

bool TMainForm::SaveProjectAs() {
    std::string start = Project->FileName;
    if (start.empty() && Settings)
        start = Settings->ReadString("Recents", "ProjectFile", "");
    std::optional<std::string> name;
    for (;;) {
        name = Ui->SaveFileDialog("Enter project filename",
                                  {{"Project file", "*.mpr"}, {"all files", "*"}}, start, "mpr");
        if (!name)
            return false;
        // The project dialog's own overwrite prompt; No asks for another name.
        if (!FileExists(*name) || Ui->Ask(*name + " already exists.\nDo you want to replace it?",
                                          TMsgButtons::YesNo, TMsgKind::Warning) == TMsgResult::Yes)
            break;
        start = *name;
    }
    // The caller may be about to drop the project: only a written file lets it. The project
    // keeps the name it had, so a later save asks again instead of retrying the failed one.
    const std::string previous = Project->FileName;
    if (!Project->SaveToFile(*name)) {
        Project->FileName = previous;
        return false;
    }
    SetProjectStatus();
    Project->Item->SetText("Project " + FileNameOnly(Project->FileName));
    if (Settings)
        Settings->WriteString("Recents", "ProjectFile", *name);
    RefreshProject(false);
    return true;
}

void TMainForm::Exit1Click() {
    if (Ui->Ask("Close the application?", TMsgButtons::OKCancel, TMsgKind::Confirmation) ==
        TMsgResult::OK)
        close();
}

// ---- add-object flow ----------------------------------------------------------------------------

void TMainForm::ConnectAddObject() {
    for (QObject* c : std::initializer_list<QObject*>{sbAddVideo, sbAddEffect, miAddVideo})
        SetCommandEnabled(c, true);
    connect(sbAddVideo, &QToolButton::clicked, this, [this] { sbAddVideoClick(); });
    connect(sbAddEffect, &QToolButton::clicked, this, [this] { sbAddEffectClick(); });
    connect(miAddVideo, &QAction::triggered, this, [this] { sbAddVideoClick(); });
}

TTreeNodeData* TMainForm::SelectedNode() const {
    ITreeItem* item = AsTreeItem(TreeView1->currentItem());
    return item ? static_cast<TTreeNodeData*>(item->GetData()) : nullptr;
}

TTreeNodeData* TMainForm::AddObject(uint16_t kinds, bool select) {
    ITreeItem* target = AsTreeItem(TreeView1->currentItem());
    if (!target)
        return nullptr;
    AddObjectDlg->TargetItem = target;
    AddObjectDlg->Kinds = kinds;
    int result = QDialog::Rejected;
    {
        TAddOnPreviewScope preview;
        result = AddObjectDlg->ShowModal();
    }
    TTreeNodeData* node = AddObjectDlg->NewNode;
    if (result != QDialog::Accepted || !node)
        return nullptr;
    if (TreeView1->isEnabled())
        TreeView1->setFocus();
    TreeView1->currentItem()->setExpanded(true);
    Ui->ProcessMessages();
    TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(node->Item));
    Project->SetActiveNode(node);
    if (!EditNodeProperties(select)) {
        Project->DeleteNode(node->Item);
        Ui->ProcessMessages();
        // The tree would select a neighbour of the removed item; the next addition goes where
        // this one was meant to.
        TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(target));
        Project->SetActiveNode(static_cast<TTreeNodeData*>(target->GetData()));
        return nullptr;
    }
    // The first picture-bearing object of a new project decides its frame size and rate.
    if (auto* master = dynamic_cast<TMasterNode*>(node); master && !Project->VideoFormatFixed)
        Project->SetVideoFormat(master->GetSourceWidth(), master->GetSourceHeight(),
                                master->GetSourceFrameRate());
    if (!Project->AudioFormatFixed) {
        if (auto* movie = dynamic_cast<TMovieNode*>(node); movie && movie->HasAudio())
            movie->GetAudioFormat(Project->AudioFormat);
        else if (auto* sound = dynamic_cast<TSoundNode*>(node))
            Project->AudioFormat = sound->SourceFormat;
    }
    return node;
}

bool TMainForm::EditNodeProperties(bool select) {
    TTreeNodeData* node = Project->GetActiveNode();
    if (!node)
        node = SelectedNode();
    if (!node)
        return false;
    const int32_t framePos = TimelineLink->GetFramePos();
    {
        TPropDlg dlg(Ui, this);
        if (!dlg.Execute(node, Project.get()))
            return false;
    }
    if (node == Project.get())
        Project->Changed();
    if (select) {
        RefreshProject(true);
        if (TimelineLink->GetMaxFrames() < framePos) {
            TimelineLink->SetFramePos(TimelineLink->GetMaxFrames());
            PostPreviewFrame();
            UpdateEditorButtons();
        }
    }
    return true;
}

void TMainForm::sbAddVideoClick() {
    if (MainTimeline)
        MainTimeline->AddVideo();
}

void TMainForm::sbAddEffectClick() {
    if (MainTimeline)
        MainTimeline->AddEffect();
}
