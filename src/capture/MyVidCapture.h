// The analog capture window: the live picture of a capture driver, the choice of driver, format,
// compression, frame rate and sound, and Start/Stop of a recording into the "Capture" folder,
// with the elapsed time, frame and dropped counts and the file in its status bar.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

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

class TVidCapture : public QDialog {
    Q_OBJECT
public:
    // drivers: where drivers come from; the default drivers when null.
    TVidCapture(IUiServices& ui, QWidget* parent = nullptr, TCaptureDrivers* drivers = nullptr);
    ~TVidCapture() override;

    // Runs the window modally; tests drive it through ModalScript instead.
    void ShowModal();
    static inline std::function<void(TVidCapture&)> ModalScript;

    // ---- handlers ----
    void BtDriverClick();
    void BtFormatClick();
    void BTCompressClick();
    void seFPSChange(int value);
    void cbRecordAudioClick(bool checked);
    void sbStartClick();

    bool IsCapturing() const { return Capturing; }
    const std::string& CaptureFileName() const { return CaptureFile; }
    // Where recordings go; the "Capture" folder beside the program unless set.
    std::string CaptureFolder;

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
    void FormCreate();
    void FormClose();
    void StartRecording();
    void StopRecording();
    void ShowCounts();
    void ShowBanner();
    // Runs a handler; the control's errors reach the user and the window stays.
    void Guard(const std::function<void()>& handler);

    IUiServices& Ui;
    bool Capturing = false;
    std::string CaptureFile;
    std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
    std::shared_ptr<std::atomic<bool>> CountsPending = std::make_shared<std::atomic<bool>>(false);
};
