#include "About.h"

#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "MyAppLibs.h"

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    lbTitle = new QLabel(QString::fromLatin1(ProgramName), this);
    QFont big = lbTitle->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    lbTitle->setFont(big);
    lbVersion = new QLabel(this);
    lbCPUSpeed = new QLabel(this);
    auto* note = new QLabel(QStringLiteral("A video composer"), this);
    for (QLabel* l : {lbTitle, note, lbVersion, lbCPUSpeed}) {
        l->setAlignment(Qt::AlignCenter);
        // Clicks on a label close the window too.
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        layout->addWidget(l);
    }
}

void TAboutForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    lbVersion->setText(QStringLiteral("Version ") + QString::fromLatin1(ProgramVersion));
    // Reading the clock may take a moment; show the rest first.
    repaint();
    lbCPUSpeed->setText(QStringLiteral("The CPU speed is") +
                        QString::fromStdString(GetCpuSpeedText()));
}

void TAboutForm::keyPressEvent(QKeyEvent* event) {
    event->accept();
    close();
}

void TAboutForm::mousePressEvent(QMouseEvent* event) {
    event->accept();
    close();
}
