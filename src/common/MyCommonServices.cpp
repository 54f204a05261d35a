#include "MyCommonServices.h"

#include <algorithm>

#include <QSettings>
#include <QStandardPaths>
#include <QString>

#include "IUiServices.h"
#include "MyCommonParams.h"
#include "MyValueStream.h"

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString KeyOf(const std::string& section, const std::string& ident) {
    return Q(section) + QLatin1Char('/') + Q(ident);
}

} // namespace

// ---- Stored classes ---------------------------------------------------------------------------

void TPartialInfo::SaveToWriter(TValueWriter& writer) const {
    writer.WriteBoolean(FromStart);
    writer.WriteFloat(InTime);
    writer.WriteBoolean(ToEnd);
    writer.WriteFloat(OutTime);
}

void TPartialInfo::LoadFromReader(TValueReader& reader) {
    FromStart = reader.ReadBoolean();
    InTime = reader.ReadFloat();
    ToEnd = reader.ReadBoolean();
    OutTime = reader.ReadFloat();
}

void TFontInfo::SaveToWriter(TValueWriter& writer) const {
    writer.WriteInteger(Version);
    writer.WriteInteger(Reserved1);
    writer.WriteInteger(Size);
    writer.WriteInteger(Style); // bit 0 bold, 1 italic, 2 underline, 3 strike-out
    writer.WriteInteger(static_cast<int32_t>(Color));
    writer.WriteString(Name);
    writer.WriteFloat(Reserved2);
    writer.WriteBoolean(Reserved3);
}

void TFontInfo::LoadFromReader(TValueReader& reader) {
    // The version read is kept aside; this object's own version stays what it is.
    VersionRead = reader.ReadInteger();
    Reserved1 = static_cast<uint8_t>(reader.ReadInteger());
    Size = reader.ReadInteger();
    Style = static_cast<uint8_t>(reader.ReadInteger());
    Color = static_cast<uint32_t>(reader.ReadInteger());
    Name = CutShortString(reader.ReadString());
    Reserved2 = reader.ReadFloat();
    Reserved3 = reader.ReadBoolean();
}

// ---- Settings store ---------------------------------------------------------------------------

std::unique_ptr<TMyRegistry> Settings;

std::string TMyRegistry::FileNameForKey(const std::string& key) {
    // "\Software\Maker\Program\" -> <config>/Maker/Program.ini
    QStringList parts = Q(key)
                            .replace(QLatin1Char('\\'), QLatin1Char('/'))
                            .split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!parts.isEmpty() &&
        parts.front().compare(QLatin1String("Software"), Qt::CaseInsensitive) == 0)
        parts.removeFirst();
    if (parts.isEmpty())
        parts << QStringLiteral("settings");
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (base + QLatin1Char('/') + parts.join(QLatin1Char('/')) + QStringLiteral(".ini"))
        .toStdString();
}

TMyRegistry::TMyRegistry(const std::string& key)
    : Store(std::make_unique<QSettings>(Q(FileNameForKey(key)), QSettings::IniFormat)) {}

TMyRegistry::~TMyRegistry() = default;

std::string TMyRegistry::GetFileName() const {
    return Store->fileName().toStdString();
}

std::string TMyRegistry::ReadString(const std::string& section, const std::string& ident,
                                    const std::string& defaultValue) const {
    QVariant v = Store->value(KeyOf(section, ident));
    if (!v.isValid())
        return defaultValue;
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(", ").toStdString();
    return v.toString().toStdString();
}

int32_t TMyRegistry::ReadInteger(const std::string& section, const std::string& ident,
                                 int32_t defaultValue) const {
    QVariant v = Store->value(KeyOf(section, ident));
    if (!v.isValid())
        return defaultValue;
    bool ok = false;
    int32_t r = v.toString().trimmed().toInt(&ok, 10);
    return ok ? r : defaultValue;
}

bool TMyRegistry::ReadBool(const std::string& section, const std::string& ident,
                           bool defaultValue) const {
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

void TMyRegistry::WriteString(const std::string& section, const std::string& ident,
                              const std::string& value) {
    Store->setValue(KeyOf(section, ident), Q(value));
    Store->sync();
}

void TMyRegistry::WriteInteger(const std::string& section, const std::string& ident,
                               int32_t value) {
    WriteString(section, ident, std::to_string(value));
}

void TMyRegistry::WriteBool(const std::string& section, const std::string& ident, bool value) {
    WriteString(section, ident, value ? "1" : "0");
}

bool TMyRegistry::ValueExists(const std::string& section, const std::string& ident) const {
    return Store->contains(KeyOf(section, ident));
}

void TMyRegistry::DeleteKey(const std::string& section, const std::string& ident) {
    Store->remove(KeyOf(section, ident));
    Store->sync();
}

// ---- Keyed confirmations ----------------------------------------------------------------------

bool ShowConfirm(const TDialogText& text, IUiServices* ui) {
    const std::string id(text.Id);
    if (Settings && Settings->ReadBool("Dialogs", id, false))
        return true;
    if (!ui)
        return false;
    TConfirmAnswer answer = ui->ConfirmDlg(
        std::string(text.Text), text.Kind == 2 ? TMsgKind::Information : TMsgKind::Confirmation);
    if (answer.DontShowAgain && Settings)
        Settings->WriteBool("Dialogs", id, true);
    return answer.Ok;
}

// ---- Load messages ----------------------------------------------------------------------------

TErrorReport LoadMessages;

// ---- Window base ------------------------------------------------------------------------------

void TMyFormBase::CollectControl(int depth, const std::string* caption, const std::string& hint) {
    if (!Collector)
        return;
    std::string line;
    if (caption)
        line = std::string(static_cast<size_t>(std::max(depth, 0)), ' ') + *caption;
    if (!hint.empty())
        line += "  Hint:" + hint;
    if (!line.empty())
        Collector->push_back(std::move(line));
}

void TMyFormBase::CollectMenuItem(const std::string& caption) {
    if (Collector)
        Collector->push_back("  Menu:" + caption);
}
