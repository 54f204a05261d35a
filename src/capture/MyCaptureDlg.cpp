#include "MyCaptureDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "MyAppLibs.h"

TCaptureForm::TCaptureForm(IUiServices& ui, QWidget* parent, TCaptureDrivers* drivers)
    : QDialog(parent), Ui(ui) {
    setWindowTitle(QStringLiteral("Capture"));
    resize(560, 320);
    auto* layout = new QHBoxLayout(this);
    auto* group = new QGroupBox(this);
    auto* buttons = new QVBoxLayout(group);
    BtOpen = new QPushButton(QStringLiteral("Open"), group);
    BtStartAvi = new QPushButton(QStringLiteral("Start AVI"), group);
    BtCaptureFrame = new QPushButton(QStringLiteral("CaptureFrame"), group);
    for (QPushButton* b : {BtOpen, BtStartAvi, BtCaptureFrame})
        buttons->addWidget(b);
    buttons->addStretch(1);
    layout->addWidget(group);
    Panel1 = new QWidget(this);
    Panel1->setMinimumSize(320, 240);
    layout->addWidget(Panel1, 1);
    connect(BtOpen, &QPushButton::clicked, this, [this] { OpenClick(); });
    connect(BtStartAvi, &QPushButton::clicked, this, [this] { StartAviClick(); });
    connect(BtCaptureFrame, &QPushButton::clicked, this, [this] { CaptureFrameClick(); });
    Cap = std::make_unique<TCapture>(Panel1, this, ui, drivers);
}

TCaptureForm::~TCaptureForm() {
    Cap->Close();
    Cap.reset();
}

void TCaptureForm::ShowModal() {
    RunModal(*this, ModalScript);
}

void TCaptureForm::OpenClick() {
    Cap->Open();
}

void TCaptureForm::StartAviClick() {
    if (const auto name = Ui.SaveFileDialog("", {{"AVI", "*.avi"}}, "", "avi"))
        Cap->StartAvi(*name);
}

void TCaptureForm::CaptureFrameClick() {
    if (const auto name = Ui.SaveFileDialog("", {{"BMP", "*.bmp"}}, "", "bmp"))
        Cap->SaveFrame(*name);
}
