#pragma once

#include <QString>
#include <QtGlobal>

// One recording of the soak as the API last listed it.
struct SoakTarget
{
    QString id;       // upper-case text, as in the API
    int stream = -1;  // the provider's stream it records
    qint64 bytes = 0; // bytes the API reported
    QString status;
};
