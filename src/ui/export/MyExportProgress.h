// The window a movie export runs in: it asks for the range and the output file, starts the
// root's export loop shortly after it appears, shows the progress of every frame with an estimate
// of the time left and, optionally, the exported pictures, and closes itself when the loop ends.
// TExportProgressModel holds the questions, the range and the texts without a widget.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "MyProjNode.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// What the window shows after one exported frame.
struct TExportFrameTexts {
    int32_t Position = 0;
    std::string Counter;
    // The file and compression labels, filled on the first five frames of the range.
    bool Names = false;
    std::string FileLabel, VideoLabel, AudioLabel;
    bool Estimate = false;
    std::string EstimateText;
    // The picture may go to the preview.
    bool Preview = false;
};

class TExportProgressModel {
public:
    TExportProgressModel(TProjectNode& project, IUiServices& ui);

    // The previous name with its three-letter extension replaced by ext; empty stays empty.
    static std::string ProposedName(const std::string& fileName, const std::string& ext);
    // "avi", or the Windows Media profile's "wmv" or "wma".
    static std::string OutputExtension(const TProjectNode& project);

    // Asks for the range (with exactly two stop points) and the file; True with FileName
    // accepted, False when the user cancelled or the range is empty.
    bool Prepare(std::string& fileName, const std::string& ext);
    // First frame and frame count of the export, from the range or the whole project.
    void BeginExport();
    TExportFrameTexts FrameProgress(int32_t frame);

    bool UseRange = false;
    int32_t RangeFirst = 0;
    int32_t RangeLast = 0;
    int32_t First = 0;
    // The count handed to the export loop, and the frames it writes for it (from First through
    // First + Count, held at the project's last frame).
    int32_t Count = 0;
    int32_t Total = 0;
    std::string FileName;
    // Whether a file is held by another program; the shell's answer unless a test replaces it.
    std::function<bool(const std::string&)> IsInUse;

private:
    bool AskRange();
    bool AskFile(const std::string& ext);

    TProjectNode& Project;
    IUiServices& Ui;
    bool Started = false;
    int64_t StartTick = 0;
};

class TExportProgress : public QDialog {
    Q_OBJECT
public:
    using TPreviewCallback = std::function<void(const TBitmap*)>;

    TExportProgress(TProjectNode& project, IUiServices& ui, QWidget* parent = nullptr);
    ~TExportProgress() override;

    bool Prepare(std::string& fileName, TFrameCallback onReport, TPreviewCallback onPreview,
                 const std::string& ext);
    // Shows the window modally; the export runs inside it.
    int Execute();
    void RunExport();
    void FrameProgress(int32_t frame, int32_t reserved, TBitmap* bitmap);
    void BitBtn1Click();

    // Runs in place of the modal loop when set (tests); returns the dialog's result.
    static std::function<int(TExportProgress&)> ExecHook;
    // Starts the player on a finished export; the desktop's media player unless set (tests).
    static std::function<void(const std::string&)> PlayHook;

    TExportProgressModel Model;
    bool Success = false;
    bool Stopped = false;

    QLabel* Label1;
    QLabel* Label5;
    QProgressBar* ProgressBar1;
    QLabel* lbFileName;
    QLabel* lbVideoComp;
    QLabel* lbAudioComp;
    QLabel* Label2;
    QCheckBox* cbShowImages;
    QCheckBox* cbPlayResult;
    QPushButton* BitBtn1;
    QTimer* Timer1;

public slots:
    // Escape asks as the Stop button does.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public:
    // The client size of the design; the window grows beyond it only where a text needs it.
    static constexpr int DesignWidth = 330, DesignHeight = 154;

private:
    void Timer1Timer();

    TProjectNode& Project;
    IUiServices& Ui;
    TFrameCallback OnReport;
    TPreviewCallback OnPreview;
};
