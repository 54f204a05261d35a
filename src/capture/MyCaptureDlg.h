// The bare capture test window: opens the first capture driver in a panel, records an AVI
// sequence into a chosen file or saves the current picture as a bitmap.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "IUiServices.h"
#include "MyCapture.h"

class QPushButton;

class TCaptureForm : public QDialog {
    Q_OBJECT
public:
    TCaptureForm(IUiServices& ui, QWidget* parent = nullptr, TCaptureDrivers* drivers = nullptr);
    ~TCaptureForm() override;

    // Runs the window modally; tests drive it through ModalScript instead.
    void ShowModal();
    static inline std::function<void(TCaptureForm&)> ModalScript;

    void OpenClick();
    void StartAviClick();
    void CaptureFrameClick();

    QPushButton* BtOpen = nullptr;
    QPushButton* BtStartAvi = nullptr;
    QPushButton* BtCaptureFrame = nullptr;
    QWidget* Panel1 = nullptr;
    TCapture* Capture() const { return Cap.get(); }

private:
    IUiServices& Ui;
    std::unique_ptr<TCapture> Cap;
};
