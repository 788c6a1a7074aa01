#include "gui/settings_file.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "app/recent_files.h"

namespace vireo::gui {
namespace {

constexpr const char* kFileName = "vireopg.ini";

QString key(int k) {
    return QString("File%1").arg(k);
}

}  // namespace

QString settings_file_path(const QString& exe_dir, const QString& config_dir) {
    const QString portable = QDir(exe_dir).filePath(kFileName);
    if (QFileInfo::exists(portable)) return portable;
    return QDir(QDir(config_dir).filePath("VireoJTAG")).filePath(kFileName);
}

std::vector<std::string> read_recent_files(const QString& file) {
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup("recent");
    std::vector<std::string> entries;
    for (int k = 1; k <= app::kRecentFiles; ++k) {
        entries.push_back(settings.value(key(k)).toString().toStdString());
    }
    return entries;
}

bool write_recent_files(const QString& file, const std::vector<std::string>& entries) {
    if (!QDir().mkpath(QFileInfo(file).absolutePath())) return false;
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup("recent");
    for (int k = 1; k <= app::kRecentFiles; ++k) {
        const size_t at = static_cast<size_t>(k - 1);
        settings.setValue(key(k), QString::fromStdString(at < entries.size() ? entries[at] : ""));
    }
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

}  // namespace vireo::gui
