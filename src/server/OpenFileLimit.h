#pragma once

#include <QtGlobal>

// Raises the soft limit on open descriptors to the hard limit, so that the
// connection cap, a quarter of it, leaves room for everything else. Logs one
// line when the limit cannot be raised; says nothing when it can.
void raiseOpenFileLimit();

// The soft limit on open descriptors now; 0 when it cannot be read, and
// unlimited as the largest qint64.
qint64 openFileLimit();
