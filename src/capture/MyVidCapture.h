// The analog capture window: the live picture of a capture driver, the choice of driver, format,
// compression, frame rate and sound, and Start/Stop of a recording into the "Capture" folder,
// with the elapsed time, frame and dropped counts and the file in its status bar.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "IUiServices.h"
#include "Videocap.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QToolButton;
class QVBoxLayout;
class QWidget;

// What the capture window asks of its capture control.
class ICaptureControl {
public:
    virtual ~ICaptureControl() = default;
    virtual std::vector<std::string> GetDriverList() const = 0;
    virtual int GetDriverIndex() const = 0;
    virtual void SetDriverIndex(int index) = 0;
    virtual bool HasDriverName() const = 0;
    virtual bool GetDriverOpen() const = 0;
    virtual void SetDriverOpen(bool open) = 0;
    virtual void SetVideoPreview(bool on) = 0;
    virtual bool DlgVideoFormat() = 0;
    virtual bool DlgVideoCompression() = 0;
    virtual uint16_t GetFrameRate() const = 0;
    virtual void SetFrameRate(uint16_t fps) = 0;
    virtual bool GetCapAudio() const = 0;
    virtual void SetCapAudio(bool on) = 0;
    virtual void SetCapTimeLimit(uint16_t seconds) = 0;
    virtual void GetVideoFormat(TBitmapInfoHeader& header) = 0;
    virtual void SetVideoFormat(const TBitmapInfoHeader& header) = 0;
    virtual void SetVideoFileName(const std::string& fileName) = 0;
    virtual bool StartCapture() = 0;
    virtual bool StopCapture() = 0;
    virtual bool GetCaptureCounts(int64_t& frame, int64_t& dropped, int64_t& elapsedMs) = 0;
};

// What the capture window's logic shows and reads on the window.
class IVidCaptureView {
public:
    virtual ~IVidCaptureView() = default;
    virtual std::string GetFileText() const = 0;
    virtual void SetFileText(const std::string& text) = 0;
    // Status panels 0..3: elapsed time, frame count, dropped count, file.
    virtual void SetPanel(int index, const std::string& text) = 0;
    virtual void SetButtonsEnabled(bool enabled) = 0;
    virtual void SetStartCaption(const std::string& caption) = 0;
    virtual void SetBannerVisible(bool visible) = 0;
    virtual bool GetPlayResult() const = 0;
    virtual void SetFps(int fps) = 0;
    virtual void SetRecordAudio(bool on) = 0;
    // The driver choice; the chosen position, -1 on Cancel.
    virtual int ChooseDriver(const std::vector<std::string>& drivers, int selected) = 0;
};

// The capture window's behaviour, apart from its widgets: opening the driver, choosing it,
// starting and stopping a recording, and showing its counts. Runs on the GUI thread.
class TVidCaptureLogic {
public:
    TVidCaptureLogic(ICaptureControl& control, IVidCaptureView& view, IUiServices& ui);

    // Where recordings go; the "Capture" folder beside the program when empty.
    std::string CaptureFolder;
    // Hands a finished recording to the desktop's player.
    std::function<void(const std::string&)> PlayFile;

    void FormCreate();
    void FormShow();
    void FormClose();
    void BtDriverClick();
    void BtFormatClick();
    void BTCompressClick();
    void seFPSChange(int value);
    void cbRecordAudioClick(bool checked);
    void sbStartClick();
    // After frames were recorded: the counts go to the panels.
    void ShowCounts();
    // The control says a recording ended; one that ended by itself ends here as by Stop.
    void RecordingEnded();

    bool IsCapturing() const { return Capturing; }
    const std::string& CaptureFileName() const { return CaptureFile; }

private:
    void StartRecording();
    void StopRecording();
    void ShowBanner();
    // Runs a step; the control's errors reach the user and the window stays.
    void Guard(const std::function<void()>& step);

    ICaptureControl& Control;
    IVidCaptureView& View;
    IUiServices& Ui;
    bool Capturing = false;
    std::string CaptureFile;
};

// The window: a thin shell of widgets over TVidCaptureLogic.
class TVidCapture : public QDialog, private IVidCaptureView {
    Q_OBJECT
public:
    // drivers: where drivers come from; the default drivers when null.
    TVidCapture(IUiServices& ui, QWidget* parent = nullptr, TCaptureDrivers* drivers = nullptr);
    ~TVidCapture() override;

    // Runs the window modally; tests drive it through ModalScript instead.
    void ShowModal();
    static inline std::function<void(TVidCapture&)> ModalScript;

    TVidCaptureLogic& Logic() { return *FLogic; }
    bool IsCapturing() const { return FLogic->IsCapturing(); }
    const std::string& CaptureFileName() const { return FLogic->CaptureFileName(); }

    // ---- controls ----
    TVideoCap* VideoCap1 = nullptr;
    QLabel* PNoAvailable = nullptr;
    QWidget* pButtons = nullptr;
    QPushButton* BtDriver = nullptr;
    QPushButton* Btformat = nullptr;
    QPushButton* BTCompress = nullptr;
    QSpinBox* seFPS = nullptr;
    QLineEdit* EdFile = nullptr;
    QCheckBox* cbPlayResult = nullptr;
    QCheckBox* cbRecordAudio = nullptr;
    QToolButton* sbStart = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanels[4] = {};

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void BuildControls();
    QVBoxLayout* BuildRightColumn();
    void ConnectHandlers();
    void ListenToRecording();

    // IVidCaptureView
    std::string GetFileText() const override;
    void SetFileText(const std::string& text) override;
    void SetPanel(int index, const std::string& text) override;
    void SetButtonsEnabled(bool enabled) override;
    void SetStartCaption(const std::string& caption) override;
    void SetBannerVisible(bool visible) override;
    bool GetPlayResult() const override;
    void SetFps(int fps) override;
    void SetRecordAudio(bool on) override;
    int ChooseDriver(const std::vector<std::string>& drivers, int selected) override;

    IUiServices& Ui;
    std::unique_ptr<ICaptureControl> Control;
    std::unique_ptr<TVidCaptureLogic> FLogic;
    std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
    std::shared_ptr<std::atomic<bool>> CountsPending = std::make_shared<std::atomic<bool>>(false);
};
