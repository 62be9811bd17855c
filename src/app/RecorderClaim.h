#pragma once

#include <QString>
#include <optional>

class SingleInstance;

// Why a launch ends before it has loaded anything, and what it tells the
// user on the way out.
struct LaunchRefusal
{
    int exitStatus = 1;
    QString line;        // for standard error; empty: nothing to say
    QString alert;       // the desktop's message box; empty: none
    QString alertDetail;
};

// Makes this process the user's one recorder and the owner of the
// recordings folder `folder`, before the index is loaded. When another
// recorder has either, answers how this launch ends instead: a desktop
// launch hands "show the window" to a running desktop copy and ends with
// success; every other case ends with a failure status, naming the running
// process. A lock that cannot be had at all (an unwritable folder) is logged
// and does not stop the launch.
std::optional<LaunchRefusal> claimRecorder(SingleInstance &instance, bool headless, const QString &folder);
