#include "app/openfilelimit.h"

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

QString OpenFileLimit::raiseToHardLimit()
{
#ifdef Q_OS_UNIX
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max)
        return QString();
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return QStringLiteral("The limit of open files stays at %1").arg(quint64(before));
    return QStringLiteral("Raised the limit of open files from %1 to %2")
        .arg(quint64(before))
        .arg(quint64(limit.rlim_max));
#else
    return QString();
#endif
}
