#pragma once

#include <QCoreApplication>
#include <QFileInfo>

// Gives this test executable a settings file of its own: test executables
// that run side by side would otherwise share one and clear each other's
// settings.
inline void useOwnSettings()
{
    QCoreApplication::setApplicationName(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}
