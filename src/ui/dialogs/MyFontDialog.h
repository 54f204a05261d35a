// The font dialog of the curve editor's font points: name, size, colour and the four styles of
// a stored font record.
#pragma once

#include <QDialog>

#include <functional>

#include "MyCommonParams.h"

class IUiServices;
class QCheckBox;
class QFontComboBox;
class QPushButton;
class QSpinBox;

class TFontDialog : public QDialog {
    Q_OBJECT
public:
    // Starts at font; on OK the four values are written back (the name cut to 255 bytes) and
    // the result is True. ui offers the colour dialog.
    static bool Execute(TFontInfo& font, IUiServices* ui, QWidget* parent = nullptr);
    // Tests replace the modal run: called with the filled dialog, returns its result.
    static inline std::function<int(TFontDialog&)> ExecHook;

    TFontDialog(IUiServices* ui, QWidget* parent = nullptr);

    void SetFont(const TFontInfo& font);
    // The dialog's choice written into font's size, name, colour and style.
    void GetFont(TFontInfo& font) const;

    QFontComboBox* cbName;
    QSpinBox* seSize;
    QCheckBox* cbStyles[4]; // bold, italic, underline, strike out
    QPushButton* bColor;
    QPushButton* bOK;
    QPushButton* bCancel;

private:
    void ShowColor();

    IUiServices* Ui;
    uint32_t Color = 0;
};
