// The picture-sequence export: a dialog that collects the folder, the new sub-folder, JPG
// quality or BMP, the sampling and the starting point, then lets the main window play the
// project frame by frame and writes the preview picture of each played frame to a numbered file.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>

#include "MyBase.h"
#include "MyPictureWriter.h"
#include "MySeqExportRec.h"
#include "MyTimelineSeam.h"

class IUiServices;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QToolButton;
class TPreviewImage;
class TProjectNode;

// "Clips" and the like beside the program: the program's folder when it is writable, else the
// user's data folder. Ends in "/".
std::string FolderBesideProgram(const std::string& name);

// What the dialog decides, without widgets: the folder-name filter, the checks before a run, the
// numbering and names of the files, the progress and time-left texts.
class TSeqDlgLogic {
public:
    // The 28 characters a sub-folder name may not hold.
    static constexpr const char* RemovedChars = "`~!@#$%^&*()+{}[]|\\/\"':;<>,.";

    // The text without those characters; removed counts how many went.
    static std::string CleanFolderName(const std::string& text, int& removed);
    // Track bar position 1..20 to JPG quality 5..100.
    static int QualityOfPosition(int position) { return position * 5; }
    // Empty when both names are given, with folder := dir + "/" + name normalised; else the
    // message to show.
    static std::string CheckNames(const std::string& dir, const std::string& name,
                                  std::string& folder);

    // A run plays the frames from framePos up to endFrame (excluded); skip 0 writes every frame.
    void Start(int32_t framePos, int32_t endFrame, int32_t skip, Extended nowDays);
    // Where a frame-by-frame playback from framePos ends (excluded): the project's end, or the
    // frame after the first stop point beyond the start.
    static int32_t PlayedEnd(TProjectNode& project, int32_t framePos);
    // The file of the frame just played (framePos), or empty when sampling passes it over.
    std::string NextFileName(int32_t framePos, const std::string& path, bool jpg);
    void FileWritten() { ++Written; }
    std::string ProgressText() const;
    // The estimate shows from the 11th file on.
    bool EstimateShown() const { return Written > 10; }
    std::string EstimateText(Extended nowDays) const;

    int32_t Skip = 0;
    int32_t FrameCounter = -1;
    int32_t FileCounter = 0;
    int32_t Written = 0;
    int32_t Expected = 0;
    int32_t SavedPos = 0;
    Extended StartDays = 0;
    bool Ran = false;    // an export was started since the dialog opened
    bool Failed = false; // a file could not be written
};

class TSeqDlg : public QDialog {
    Q_OBJECT
public:
    explicit TSeqDlg(IUiServices& ui, QWidget* parent = nullptr);
    ~TSeqDlg() override;

    void Setup(TSeqExportRec& rec, TPreviewImage* picture, TTimelineSeam& timeline,
               TProjectNode& project);
    // Shows the dialog modally (or hands it to ExecHook).
    int Execute();
    // Runs the dialog instead of its own event loop when set (tests play the user).
    static std::function<int(TSeqDlg&)> ExecHook;
    // Opens the destination folder at the end; the desktop's file manager by default.
    std::function<void(const std::string&)> OpenFolder;

    void rgFormatClick();
    void rgSampleClick();
    void SpeedButton1Click();
    void eFolderNameChange();
    void bOKClick();
    void bCancelClick();
    // The record's OnFrame and OnDone while an export runs.
    void WriteFrameFile(int32_t frame);
    void ExportFinished();
    bool Running() const { return Rec && Rec->OnFrame; }
    // The client size of the design; the window grows beyond it only where a text needs it.
    static constexpr int DesignWidth = 411, DesignHeight = 297;
    // Disables every child control, remembering which were off already; enabling turns on only
    // those that were on. Labels and tool buttons are left alone.
    static void EnableControls(QWidget* parent, bool enable);

    TSeqDlgLogic Logic;

    QLineEdit* eDir;
    QToolButton* SpeedButton1;
    QLineEdit* eFolderName;
    QComboBox* cbFormat;
    QSlider* tbCompress;
    QRadioButton* rbComplete;
    QRadioButton* rbSkip;
    QSpinBox* seSkip;
    QRadioButton* rbFromStart;
    QRadioButton* rbFromCurrent;
    QCheckBox* cbBack;
    QCheckBox* cbOpenTarget;
    QLabel* lbProgress;
    QLabel* lbTime;
    QPushButton* bOK;
    QPushButton* bCancel;

protected:
    void showEvent(QShowEvent* event) override;
    // Every way of closing: while an export runs it stops the export instead.
    void done(int result) override;

private:
    void BuildControls();
    void BuildSamplingControls(QGridLayout* grid);
    void BuildButtons(QGridLayout* grid);
    void FormCreate();
    void FormDestroy();
    static Extended NowDays();

    IUiServices& Ui;
    TSeqExportRec* Rec = nullptr;
    TPreviewImage* Picture = nullptr;
    TTimelineSeam* Timeline = nullptr;
    TProjectNode* Project = nullptr;
    TPictureWriter Writer;
};
