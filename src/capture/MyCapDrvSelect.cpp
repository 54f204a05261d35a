#include "MyCapDrvSelect.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TDlgCapDrvSelect::TDlgCapDrvSelect(const std::string& caption, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromStdString(caption));
    auto* layout = new QVBoxLayout(this);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setMinimumWidth(260);
    layout->addWidget(ComboBox1);
    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

int TDlgCapDrvSelect::Choose(QWidget* parent, const std::string& caption,
                             const std::vector<std::string>& items, int selected) {
    TDlgCapDrvSelect dlg(caption, parent);
    for (const std::string& item : items)
        dlg.ComboBox1->addItem(QString::fromStdString(item));
    dlg.ComboBox1->setCurrentIndex(selected);
    const int result = Script ? Script(dlg) : dlg.exec();
    return result == QDialog::Accepted ? dlg.ComboBox1->currentIndex() : -1;
}
