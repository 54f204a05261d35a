#include "MyFontDialog.h"
#include "MyDialogButtons.h"

#include <QCheckBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "IUiServices.h"

namespace {

const uint8_t StyleBits[4] = {fsBold, fsItalic, fsUnderline, fsStrikeOut};
const char* const StyleNames[4] = {"Bold", "Italic", "Underline", "Strikeout"};

} // namespace

bool TFontDialog::Execute(TFontInfo& font, IUiServices* ui, QWidget* parent) {
    TFontDialog dlg(ui, parent);
    dlg.SetFont(font);
    const int result = ExecHook ? ExecHook(dlg) : dlg.exec();
    if (result != QDialog::Accepted)
        return false;
    dlg.GetFont(font);
    return true;
}

TFontDialog::TFontDialog(IUiServices* ui, QWidget* parent) : QDialog(parent), Ui(ui) {
    setWindowTitle(QStringLiteral("Font"));
    auto* v = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    cbName = new QFontComboBox(this);
    seSize = new QSpinBox(this);
    seSize->setRange(1, 1000);
    form->addRow(QStringLiteral("Font:"), cbName);
    form->addRow(QStringLiteral("Size:"), seSize);
    v->addLayout(form);
    auto* styles = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        cbStyles[i] = new QCheckBox(QString::fromLatin1(StyleNames[i]), this);
        styles->addWidget(cbStyles[i]);
    }
    v->addLayout(styles);
    bColor = new QPushButton(QStringLiteral("Color..."), this);
    v->addWidget(bColor);
    v->addLayout(MakeOkCancelRow(this, bOK, bCancel));
    KeepLayoutSize(this);
    connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(bColor, &QPushButton::clicked, this, [this] {
        if (!Ui)
            return;
        if (std::optional<uint32_t> c = Ui->ChooseColor(Color)) {
            Color = *c;
            ShowColor();
        }
    });
}

void TFontDialog::SetFont(const TFontInfo& font) {
    cbName->setCurrentFont(QFont(QString::fromStdString(font.Name)));
    // The combo box offers installed families only; the stored name is kept as typed.
    cbName->setEditText(QString::fromStdString(font.Name));
    seSize->setValue(font.Size);
    for (int i = 0; i < 4; ++i)
        cbStyles[i]->setChecked((font.Style & StyleBits[i]) != 0);
    Color = font.Color;
    ShowColor();
}

void TFontDialog::GetFont(TFontInfo& font) const {
    font.Name = CutShortString(cbName->currentText().toStdString());
    font.Size = seSize->value();
    uint8_t style = 0;
    for (int i = 0; i < 4; ++i)
        if (cbStyles[i]->isChecked())
            style |= StyleBits[i];
    font.Style = style;
    font.Color = Color;
}

void TFontDialog::ShowColor() {
    const QColor c(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF);
    bColor->setStyleSheet(QStringLiteral("background-color: %1").arg(c.name()));
}
