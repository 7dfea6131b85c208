#pragma once

#include <QString>

// The process's limit of open files (sockets, pipes and files alike). Where the system sets a low
// soft limit under a higher hard one (1024 under 524288 on many Linux systems), the soft one is
// what a busy recorder runs into; nothing of this exists on Windows.
class OpenFileLimit
{
public:
    // Raises the soft limit to the hard one: what was done, for the log, or empty when nothing
    // was needed or possible.
    static QString raiseToHardLimit();
};
