// Playing the user on the program's real file dialogs and message boxes, offscreen.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

// Answers every message box that comes up modally with Yes (or OK) and keeps its text.
class TAnsweringBoxes {
public:
    TAnsweringBoxes() {
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            Texts << box->text();
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            (yes ? yes : box->button(QMessageBox::Ok))->click();
        });
        Timer.start(10);
    }
    QStringList Texts;

private:
    QTimer Timer;
};

// Types name into the dialog and presses its accept button once the dialog runs; the dialog's
// result.
inline int AcceptTyped(QFileDialog& dlg, const QString& name) {
    dlg.selectFile(name);
    QMetaObject::invokeMethod(&dlg, "accept", Qt::QueuedConnection);
    return dlg.exec();
}
