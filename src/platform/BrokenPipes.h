#pragma once

// A write to a reader that has gone (standard error whose reader closed it, a
// peer that hung up) raises SIGPIPE, whose default action ends the process at
// once: running recordings would be neither stopped nor saved. Once this has
// run, such a write fails with EPIPE and the program carries on.
void surviveBrokenPipes();
