// The main window's side of the picture-sequence export: it opens the dialog and plays the
// project frame by frame when the dialog asks.
#include <QToolButton>

#include "MainZunt.h"
#include "MySeqDlg.h"

void TMainForm::ExportClipClick() {
    TSeqDlg dlg(*Ui, this);
    SeqExport.OnRun = [this](QObject* sender) { SeqPlayRequest(sender); };
    dlg.Setup(SeqExport, VideoImage, *TimelineLink, *Project);
    dlg.Execute();
    SeqExport.OnRun = nullptr;
}

void TMainForm::SeqPlayRequest(QObject* sender) {
    if (sender) {
        // The playback runs inside this call.
        sbPlay1->setChecked(true);
        sbPlay1Click(true);
    } else {
        sbStop1->setChecked(true);
        sbStop1Click(true);
    }
}
