#include "MyCapture.h"

#include <QWidget>

TCapture::TCapture(QWidget* hostPanel, QWidget* parentWindow, IUiServices& ui,
                   TCaptureDrivers* drivers)
    : HostPanel(hostPanel), ParentWindow(parentWindow), Ui(ui),
      Drivers(drivers ? *drivers : DefaultCaptureDrivers()) {}

TCapture::~TCapture() {
    Close();
}

void TCapture::Open() {
    if (!Handle) {
        Handle = new TCapWindow(Ui, Drivers, ParentWindow);
        Handle->setObjectName(QStringLiteral("Capture Window"));
        Handle->setGeometry(HostPanel->geometry());
        Handle->show();
    }
    Handle->DriverConnect(0);
}

void TCapture::Close() {
    if (!Handle)
        return;
    // The window itself goes with its parent.
    Handle->DriverDisconnect();
    Handle = nullptr;
}

void TCapture::StartAvi(const std::string& fileName) {
    if (!Handle)
        return;
    FState = -1;
    Handle->SetCaptureFile(fileName);
    Handle->Sequence(true);
}

void TCapture::SaveFrame(const std::string& fileName) {
    if (Handle)
        Handle->SaveDIB(fileName);
}
