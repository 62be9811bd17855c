#include "HelperProgram.h"
#include "SystemdPowerManager.h"

// The privileged wake helper: schedules and cancels wakes of the computer
// for the application, and for nothing else. It arms real wakes only.
int main(int argc, char **argv)
{
    return runHelper(argc, argv, {}, [](const HelperOptions &) -> std::variant<HelperPower, QString> {
        return HelperPower{std::make_unique<SystemdPowerManager>(), &QDateTime::currentDateTimeUtc};
    });
}
