#include "MyUiServices.h"

#include <QApplication>
#include <QColorDialog>
#include <QCursor>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QThread>

#include "MyAppLibs.h"
#include "MyMsgDlg.h"
#include "MyShell.h"
#include "MyTextView.h"
#include "MyWavStreaming.h"

QString FileFilterText(const std::vector<TFileFilter>& filters) {
    QStringList parts;
    for (const TFileFilter& f : filters)
        parts << QString::fromStdString(f.Description) + QStringLiteral(" (") +
                     QString::fromStdString(f.Patterns) + QLatin1Char(')');
    return parts.join(QStringLiteral(";;"));
}

QString FilterSuffix(const QString& nameFilter) {
    QString patterns = nameFilter;
    const qsizetype open = patterns.lastIndexOf(QLatin1Char('('));
    if (open >= 0)
        patterns = patterns.mid(open + 1).chopped(patterns.endsWith(QLatin1Char(')')) ? 1 : 0);
    const QString first = patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts).value(0);
    const qsizetype dot = first.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot >= 0 ? first.mid(dot + 1) : QString();
    if (suffix.contains(QLatin1Char('?')) || suffix.contains(QLatin1Char('*')) ||
        suffix.contains(QLatin1Char('[')))
        return {};
    return suffix;
}

void OpenOrTell(IUiServices& ui, QObject* context, const std::string& target,
                const std::string& what) {
    ShellOpenTargetAsync(target, context, [&ui, what](const std::string& why) {
        if (!why.empty())
            ui.ShowMessage(what + ": " + why, TMsgKind::Warning);
    });
}

QColor ColorFromBGR(uint32_t color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

uint32_t BGRFromColor(const QColor& color) {
    return static_cast<uint32_t>(color.red()) | (static_cast<uint32_t>(color.green()) << 8) |
           (static_cast<uint32_t>(color.blue()) << 16);
}

void SetPanelColor(QWidget* panel, uint32_t color) {
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, ColorFromBGR(color));
    panel->setPalette(pal);
    panel->setAutoFillBackground(true);
}

uint32_t PanelColor(const QWidget* panel) {
    return BGRFromColor(panel->palette().color(QPalette::Window));
}

TMyUiServices::TMyUiServices(QWidget* window) : Window(window) {
    Clock.start();
}

TMyUiServices::~TMyUiServices() {
    while (Busy > 0)
        SetBusyCursor(false);
}

QWidget* TMyUiServices::Parent() const {
    if (QWidget* active = QApplication::activeModalWidget())
        return active;
    return Window.data();
}

void TMyUiServices::ShowMessage(const std::string& text, TMsgKind kind) {
    const QString title = QString::fromLatin1(ProgramName);
    const QString body = QString::fromStdString(text);
    if (text == WaveOutNoDeviceText || text == WaveOutOpenErrorText(WaveOutNoDriver)) {
        ShowNoDeviceNotice(title, body);
        return;
    }
    switch (kind) {
    case TMsgKind::Error:
        QMessageBox::critical(Parent(), title, body);
        break;
    case TMsgKind::Warning:
        QMessageBox::warning(Parent(), title, body);
        break;
    default:
        QMessageBox::information(Parent(), title, body);
        break;
    }
}

void TMyUiServices::ShowNoDeviceNotice(const QString& title, const QString& body) {
    // A machine without sound is told once a run; the notice does not hold the pictures up,
    // which go on playing without sound.
    if (NoDeviceTold)
        return;
    NoDeviceTold = true;
    auto* box = new QMessageBox(QMessageBox::Warning, title, body, QMessageBox::Ok, Window.data());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

TMsgResult TMyUiServices::Ask(const std::string& text, TMsgButtons buttons, TMsgKind kind) {
    QMessageBox box(Parent());
    box.setWindowTitle(kind == TMsgKind::Confirmation ? QStringLiteral("Confirm")
                                                      : QString::fromLatin1(ProgramName));
    box.setText(QString::fromStdString(text));
    switch (kind) {
    case TMsgKind::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case TMsgKind::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case TMsgKind::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case TMsgKind::Confirmation:
        box.setIcon(QMessageBox::Question);
        break;
    }
    QMessageBox::StandardButtons set;
    switch (buttons) {
    case TMsgButtons::OK:
        set = QMessageBox::Ok;
        break;
    case TMsgButtons::OKCancel:
        set = QMessageBox::Ok | QMessageBox::Cancel;
        break;
    case TMsgButtons::YesNo:
        set = QMessageBox::Yes | QMessageBox::No;
        break;
    case TMsgButtons::YesNoCancel:
        set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        break;
    }
    box.setStandardButtons(set);
    // Closing the box counts as Cancel, or No where there is no Cancel.
    if (buttons == TMsgButtons::YesNo)
        box.setEscapeButton(QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return TMsgResult::OK;
    case QMessageBox::Yes:
        return TMsgResult::Yes;
    case QMessageBox::No:
        return TMsgResult::No;
    default:
        return buttons == TMsgButtons::YesNo ? TMsgResult::No : TMsgResult::Cancel;
    }
}

TConfirmAnswer TMyUiServices::ConfirmDlg(const std::string& text, TMsgKind kind) {
    TConfirmDlg dlg(Parent());
    dlg.Setup(text, kind);
    dlg.exec();
    return dlg.Answer();
}

namespace {

// The dialog shows each filter by its description alone, as it is written ("Targeted format
// (*.avi)", "Project file"); the patterns after it only choose the files.
void SetFilters(QFileDialog& dlg, const std::vector<TFileFilter>& filters) {
    dlg.setOption(QFileDialog::HideNameFilterDetails, true);
    dlg.setNameFilter(FileFilterText(filters));
}

// Which of the filters (0 = the first) a name the dialog reports stands for: the dialog may
// give the whole filter or the description it showed.
int FilterIndexOf(const QFileDialog& dlg, const QString& chosen) {
    const QStringList names = dlg.nameFilters();
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString shown = names[i].left(names[i].lastIndexOf(QLatin1Char('('))).trimmed();
        if (names[i] == chosen || shown == chosen.trimmed())
            return static_cast<int>(i);
    }
    return 0;
}

} // namespace

std::optional<std::string> TMyUiServices::OpenFileDialog(const std::string& title,
                                                         const std::vector<TFileFilter>& filters,
                                                         const std::string& initialName) {
    QFileDialog dlg(Parent(), QString::fromStdString(title));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    SetFilters(dlg, filters);
    // A name typed without an extension takes the first filter's ("project" opens
    // "project.mpr").
    if (!filters.empty())
        dlg.setDefaultSuffix(FilterSuffix(dlg.nameFilters().value(0)));
    if (!initialName.empty())
        dlg.selectFile(QString::fromStdString(initialName));
    if ((ExecDialog ? ExecDialog(dlg) : dlg.exec()) != QDialog::Accepted ||
        dlg.selectedFiles().isEmpty())
        return std::nullopt;
    return dlg.selectedFiles().front().toStdString();
}

std::optional<std::string> TMyUiServices::SaveFileDialog(const std::string& title,
                                                         const std::vector<TFileFilter>& filters,
                                                         const std::string& initialName,
                                                         const std::string& defaultExt) {
    QFileDialog dlg(Parent(), QString::fromStdString(title));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    // Whoever asks for the name asks about an existing file, once, in their own words.
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    SetFilters(dlg, filters);
    const QString defaultSuffix = QString::fromStdString(defaultExt);
    dlg.setDefaultSuffix(defaultSuffix);
    // A filter without a real suffix ("Without header|*.???") neither adds the default suffix
    // nor turns the typed name's suffix into its wildcards: the name stays as typed.
    QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg, [&](const QString& filter) {
        const QString full = dlg.nameFilters().value(FilterIndexOf(dlg, filter));
        dlg.setDefaultSuffix(FilterSuffix(full).isEmpty() ? QString() : defaultSuffix);
    });
    if (!initialName.empty())
        dlg.selectFile(QString::fromStdString(initialName));
    if ((ExecDialog ? ExecDialog(dlg) : dlg.exec()) != QDialog::Accepted ||
        dlg.selectedFiles().isEmpty())
        return std::nullopt;
    const int index = FilterIndexOf(dlg, dlg.selectedNameFilter());
    FilterIndex = index + 1;
    const QString chosen = dlg.nameFilters().value(index);
    QString name = dlg.selectedFiles().front();
    if (FilterSuffix(chosen).isEmpty() && chosen.contains(QLatin1String("*."))) {
        // The wildcard suffix the dialog may have put in place of the typed one.
        const QString pattern = chosen.mid(chosen.lastIndexOf(QLatin1String("*.")) + 1);
        const QString wild =
            pattern.section(QLatin1Char(')'), 0, 0).section(QLatin1Char(' '), 0, 0);
        if (name.endsWith(wild))
            name.chop(wild.size());
    }
    return name.toStdString();
}

std::optional<std::string> TMyUiServices::BrowseForFolder(const std::string& title,
                                                          const std::string& initialFolder) {
    const QString dir = QFileDialog::getExistingDirectory(Parent(), QString::fromStdString(title),
                                                          QString::fromStdString(initialFolder));
    if (dir.isEmpty())
        return std::nullopt;
    return dir.toStdString();
}

std::optional<uint32_t> TMyUiServices::ChooseColor(uint32_t initial) {
    const QColor c = QColorDialog::getColor(ColorFromBGR(initial), Parent());
    if (!c.isValid())
        return std::nullopt;
    return BGRFromColor(c);
}

void TMyUiServices::Beep() {
    QApplication::beep();
}

void TMyUiServices::SetBusyCursor(bool busy) {
    if (busy) {
        ++Busy;
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    } else if (Busy > 0) {
        --Busy;
        QApplication::restoreOverrideCursor();
    }
}

void TMyUiServices::SetStatusText(const std::string& text) {
    if (StatusPanel)
        StatusPanel->setText(QString::fromStdString(text));
}

void TMyUiServices::TextViewAdd(const std::string& line) {
    if (TextView)
        TextView->AddLine(line);
}

void TMyUiServices::TextViewClear() {
    if (TextView)
        TextView->Clear();
}

void TMyUiServices::TextViewShow() {
    if (TextView)
        TextView->exec();
}

void TMyUiServices::ProcessMessages() {
    QCoreApplication::processEvents();
}

void TMyUiServices::Sleep(int milliseconds) {
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

int64_t TMyUiServices::TickCount() {
    return Clock.elapsed();
}

void TMyUiServices::PostToGui(std::function<void()> fn) {
    // Queued on the application object, so the call runs on the GUI thread in posting order.
    QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
}
