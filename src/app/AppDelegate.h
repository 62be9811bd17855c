#pragma once

#include "QuitRule.h"

#include <QObject>

// The headless program: starts the shared services in launch order, says
// where its page and recordings are, and applies the quit rule without
// asking.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    void applicationDidFinishLaunching();
    void applicationShouldTerminate();

private:
    QuitRule m_quit;
};
