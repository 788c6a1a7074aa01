// The settings file "vireopg.ini": section "recent", keys "File1" ... "File10", the most recent
// first. It is opened for each read or update and never kept open.
#pragma once

#include <QString>
#include <string>
#include <vector>

namespace vireo::gui {

// Beside the executable when a "vireopg.ini" already lies there (a portable copy), otherwise in
// `config_dir`/VireoJTAG/ (the user's configuration folder).
QString settings_file_path(const QString& exe_dir, const QString& config_dir);

// The ten entries, "" where a key is missing.
std::vector<std::string> read_recent_files(const QString& file);
// False when the file could not be written.
bool write_recent_files(const QString& file, const std::vector<std::string>& entries);

}  // namespace vireo::gui
