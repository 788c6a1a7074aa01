// The settings file "vireopg.ini": section "recent", keys "File1" ... "File10", the most recent
// first; section "xvc", the XVC server's settings. It is opened for each read or update and never
// kept open.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "xvc/Xvcserver.h"

namespace vireo::gui {

// Beside the executable when a "vireopg.ini" already lies there (a portable copy), otherwise in
// `config_dir`/VireoJTAG/ (the user's configuration folder).
QString settings_file_path(const QString& exe_dir, const QString& config_dir);

// The ten entries, "" where a key is missing.
std::vector<std::string> read_recent_files(const QString& file);
// False when the file could not be written.
bool write_recent_files(const QString& file, const std::vector<std::string>& entries);

// Section "window", key "Language": "ja" or "en", the language chosen in the window; "" when
// none is stored (the locale decides) or the value is neither.
std::string read_language(const QString& file);
// "" removes the key. False when the file could not be written.
bool write_language(const QString& file, const std::string& language);

// Section "remote", key "Xvc": HOST[:PORT] of an XVC server whose board the window uses instead
// of the USB boards; "" when not set.
std::string read_remote_xvc(const QString& file);

// Section "xvc": "Listen" (IPv4 address), "Port", "Allow" (addresses or ADDR/PREFIX networks,
// separated by commas or blanks) and "IdleTimeout" (seconds, 0: never). Keys that are missing
// leave `options` as it is. Empty on success; otherwise the first entry that cannot be used, and
// nothing is changed.
std::string read_xvc_settings(const QString& file, xvc::XvcOptions* options);

}  // namespace vireo::gui
