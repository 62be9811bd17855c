#pragma once

#include <QString>

// The desktop's file manager, as far as the main window uses it.
class FileManager
{
public:
    virtual ~FileManager() = default;
    // Shows the folder holding the file with the file selected.
    virtual void revealFile(const QString &filePath) = 0;
    virtual void openFolder(const QString &folderPath) = 0;
};
