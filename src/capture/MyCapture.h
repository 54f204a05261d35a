// A bare companion of the test window: one capture window in a host panel, connected to the first
// driver, that records a sequence with the driver's own settings or saves the current picture.
// It ignores what the driver answers.
#pragma once

#include <cstdint>
#include <string>

#include "IUiServices.h"
#include "Videocap.h"

class QWidget;

class TCapture {
public:
    // drivers: where drivers come from; the default drivers when null.
    TCapture(QWidget* hostPanel, QWidget* parentWindow, IUiServices& ui,
             TCaptureDrivers* drivers = nullptr);
    ~TCapture();
    TCapture(const TCapture&) = delete;
    TCapture& operator=(const TCapture&) = delete;

    void Open();
    void Close();
    void StartAvi(const std::string& fileName);
    void SaveFrame(const std::string& fileName);

    TCapWindow* Window() const { return Handle; }
    int32_t State() const { return FState; }

private:
    TCapWindow* Handle = nullptr;
    int32_t FState = 0;
    QWidget* HostPanel;
    QWidget* ParentWindow;
    IUiServices& Ui;
    TCaptureDrivers& Drivers;
};
