#include "BrokenPipes.h"

#include <csignal>

namespace {

extern "C" void onBrokenPipe(int) {}

} // namespace

void surviveBrokenPipes()
{
    // A handler that does nothing rather than SIG_IGN: an ignored signal stays
    // ignored across exec, a handled one does not, so programs started from
    // here get the default action back.
    struct sigaction action = {};
    action.sa_handler = onBrokenPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGPIPE, &action, nullptr);
}
