#include "WakeScheduler.h"

WakeScheduler &WakeScheduler::shared()
{
    static WakeScheduler *instance = new WakeScheduler();
    return *instance;
}
