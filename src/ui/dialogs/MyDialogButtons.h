// The row of buttons at the foot of our dialogs.
#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QLayout>
#include <QPushButton>

// OK and Cancel at the right of a row; the caller places the row and connects the buttons.
// OK is the default button: Enter in any field confirms the dialog.
inline QHBoxLayout* MakeOkCancelRow(QWidget* parent, QPushButton*& ok, QPushButton*& cancel) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    ok = new QPushButton(QStringLiteral("OK"), parent);
    ok->setDefault(true);
    cancel = new QPushButton(QStringLiteral("Cancel"), parent);
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

// The dialog takes the size its layout asks for and keeps it. A window manager draws a resize
// handle along the foot of a window it may resize, which reads as a cut strip under a dialog
// that has nothing to gain from a larger size.
inline void KeepLayoutSize(QDialog* dialog) {
    dialog->layout()->setSizeConstraint(QLayout::SetFixedSize);
}
