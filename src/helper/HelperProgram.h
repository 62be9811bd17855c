#pragma once

#include "HelperOptions.h"
#include "PowerManager.h"

#include <QCommandLineOption>
#include <QDateTime>
#include <functional>
#include <memory>
#include <variant>

// What one build of the helper runs with: the power manager and the clock.
struct HelperPower
{
    std::unique_ptr<PowerManager> manager;
    std::function<QDateTime()> now;
};

// Chooses the power manager for the parsed options, or answers why it cannot.
using PowerChoice = std::function<std::variant<HelperPower, QString>(const HelperOptions &options)>;

// The helper's whole run: parses the options (with a test build's added
// test-mode options), serves the socket until ended and answers the exit
// code; 2 when it refuses to start.
int runHelper(int argc, char **argv, const QList<QCommandLineOption> &testOptions, const PowerChoice &choosePower);
