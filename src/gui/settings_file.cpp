#include "gui/settings_file.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include "app/recent_files.h"
#include "xvc/xvc_access.h"

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

std::string read_language(const QString& file) {
    QSettings settings(file, QSettings::IniFormat);
    const QString value = settings.value("window/Language").toString().trimmed();
    return value == "ja" || value == "en" ? value.toStdString() : "";
}

bool write_language(const QString& file, const std::string& language) {
    if (!QDir().mkpath(QFileInfo(file).absolutePath())) return false;
    QSettings settings(file, QSettings::IniFormat);
    if (language.empty()) {
        settings.remove("window/Language");
    } else {
        settings.setValue("window/Language", QString::fromStdString(language));
    }
    settings.sync();
    return settings.status() == QSettings::NoError;
}

std::string read_remote_xvc(const QString& file) {
    QSettings settings(file, QSettings::IniFormat);
    return settings.value("remote/Xvc").toString().trimmed().toStdString();
}

std::string read_xvc_settings(const QString& file, xvc::XvcOptions* options) {
    QSettings settings(file, QSettings::IniFormat);
    // A key or section written in another case, or misspelt, would be ignored and could leave
    // the server open to everyone: it is named instead.
    const QStringList known = {"Listen", "Port", "Allow", "IdleTimeout"};
    for (const QString& group : settings.childGroups()) {
        if (group != "xvc" && group.compare("xvc", Qt::CaseInsensitive) == 0)
            return QString("[%1]: the section is [xvc]").arg(group).toStdString();
    }
    settings.beginGroup("xvc");
    for (const QString& key : settings.childKeys()) {
        if (!known.contains(key))
            return QString("[xvc] %1: not a setting (%2)").arg(key, known.join(", ")).toStdString();
    }
    xvc::XvcOptions read = *options;
    // QSettings reads a value with commas as a list; joined again it is the text as written.
    const auto text = [&settings](const char* key) {
        const QVariant value = settings.value(key);
        return value.canConvert<QStringList>() ? value.toStringList().join(',').trimmed()
                                               : value.toString().trimmed();
    };
    const auto problem = [](const char* key, const QString& value, const std::string& why) {
        return std::string("[xvc] ") + key + "=" + value.toStdString() + ": " + why;
    };
    if (settings.contains("Listen")) {
        read.address = text("Listen").toStdString();
        if (!xvc::xvc_is_ipv4(read.address))
            return problem("Listen", text("Listen"), "not an IPv4 address");
    }
    if (settings.contains("Port")) {
        bool ok = false;
        const uint port = text("Port").toUInt(&ok);
        if (!ok || port > 65535) return problem("Port", text("Port"), "not a port number");
        read.port = static_cast<uint16_t>(port);
    }
    if (settings.contains("Allow")) {
        read.allow.clear();
        for (const QString& entry :
             text("Allow").split(QRegularExpression("[,\\s]+"), Qt::SkipEmptyParts)) {
            read.allow.push_back(entry.toStdString());
        }
        std::vector<xvc::XvcNet> nets;
        if (std::string why = xvc::xvc_parse_nets(read.allow, &nets); !why.empty())
            return problem("Allow", text("Allow"), why);
    }
    if (settings.contains("IdleTimeout")) {
        bool ok = false;
        const uint seconds = text("IdleTimeout").toUInt(&ok);
        if (!ok) return problem("IdleTimeout", text("IdleTimeout"), "not a number of seconds");
        read.idle_timeout = std::chrono::seconds(seconds);
    }
    *options = std::move(read);
    return "";
}

}  // namespace vireo::gui
