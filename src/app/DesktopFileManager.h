#pragma once

#include "FileManager.h"

#include <QObject>

// Reveals files through the session bus's org.freedesktop.FileManager1
// service, which the common file managers provide; when it is missing or
// fails, the file's folder is opened instead. Folders open through the
// desktop's default handler.
class DesktopFileManager : public FileManager
{
public:
    void revealFile(const QString &filePath) override;
    void openFolder(const QString &folderPath) override;

private:
    // Owns the calls in flight.
    QObject m_calls;
};
