#include "RecordingsFolder.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

QString recordingsFolderPath()
{
    const QString configured = QSettings().value(QLatin1String(kFolderPathSettingKey)).toString();
    if (!configured.isEmpty())
        return QDir::cleanPath(configured);
    QString parent = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (parent.isEmpty())
        parent = QDir::homePath();
    return QDir(parent).filePath(QLatin1String(kDefaultFolderName));
}

bool isPlainFileName(const QString &fileName)
{
    return !fileName.isEmpty() && fileName != QLatin1String(".") && fileName != QLatin1String("..")
        && !fileName.contains(QLatin1Char('/')) && !fileName.contains(QChar(u'\0'));
}

std::optional<QString> recordingFilePath(const QString &folder, const QString &fileName)
{
    if (!isPlainFileName(fileName))
        return std::nullopt;
    return QDir(folder).filePath(fileName);
}
