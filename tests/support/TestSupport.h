#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>

namespace testsupport {

// Runs the event loop until the predicate holds or the timeout passes;
// answers whether the predicate held.
bool waitUntil(const std::function<bool()> &predicate,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the event loop for the given time.
inline void spin(std::chrono::milliseconds duration)
{
    waitUntil([] { return false; }, duration);
}

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes);

// Removes the settings written by earlier tests of the same process.
void clearSettings();

} // namespace testsupport
