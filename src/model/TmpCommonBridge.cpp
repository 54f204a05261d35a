// Temporary until the shared helpers land.
#include <QUuid>
#include <filesystem>

#include "MyCommonParams.h"

std::string NewGuidText() {
    return QUuid::createUuid().toString(QUuid::WithBraces).toUpper().toStdString();
}
bool FileExists(const std::string& f) {
    std::error_code ec;
    return std::filesystem::is_regular_file(f, ec);
}
