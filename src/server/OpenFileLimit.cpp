#include "OpenFileLimit.h"

#include <QDebug>

#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/resource.h>

void raiseOpenFileLimit()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        qWarning().noquote() << "Cannot read the limit on open files:" << std::strerror(errno);
        return;
    }
    if (limit.rlim_cur == limit.rlim_max)
        return;
    const rlim_t soft = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        qWarning().noquote() << "Cannot raise the limit on open files from" << qulonglong(soft) << "to"
                             << qulonglong(limit.rlim_max) << "-" << std::strerror(errno);
}

qint64 openFileLimit()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > rlim_t(std::numeric_limits<qint64>::max()))
        return std::numeric_limits<qint64>::max();
    return qint64(limit.rlim_cur);
}
