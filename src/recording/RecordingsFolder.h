#pragma once

#include <QString>
#include <optional>

// User setting holding the recordings folder's path; empty means the default.
inline constexpr char kFolderPathSettingKey[] = "recorder.folderPath";
inline constexpr char kIndexFileName[] = "recordings.json";
inline constexpr char kDefaultFolderName[] = "Tivolux Recordings";

// The current recordings folder, resolved afresh from the settings at every
// call: the configured path, else "Tivolux Recordings" in the user's videos
// folder, else in the home folder.
QString recordingsFolderPath();

// A recording's file name must be a plain name inside the folder. Names from
// an edited index that hold a separator, are empty, "." or ".." are refused
// so that nothing outside the folder is read, written or deleted.
bool isPlainFileName(const QString &fileName);

// The full path of a recording's file, or none when its name is not plain.
std::optional<QString> recordingFilePath(const QString &folder, const QString &fileName);
