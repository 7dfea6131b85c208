#include "recording/processlifetime.h"

#include <QProcess>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/types.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace
{

#ifdef Q_OS_WIN
// Every tied process joins this job; the job ends them when the application's last handle to it
// closes, also when the application dies.
HANDLE applicationJob()
{
    static HANDLE job = [] {
        HANDLE handle = CreateJobObjectW(nullptr, nullptr);
        if (handle) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits {};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            SetInformationJobObject(handle, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        }
        return handle;
    }();
    return job;
}
#endif

} // namespace

void ProcessLifetime::tieToApplication(QProcess* process)
{
#ifdef Q_OS_WIN
    QObject::connect(process, &QProcess::started, process, [process] {
        if (HANDLE job = applicationJob()) {
            if (HANDLE handle
                = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(process->processId()))) {
                AssignProcessToJobObject(job, handle);
                CloseHandle(handle);
            }
        }
    });
#elif defined(Q_OS_LINUX)
    // In a process group of its own the child is also woken and hung up on if it was stopped
    // (frozen), as the system does for every stopped member of a group that has lost its parent.
    const pid_t parent = ::getpid();
    process->setChildProcessModifier([parent] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::raise(SIGTERM); // we died before the request was in place
    });
#else
    Q_UNUSED(process)
#endif
}

void ProcessLifetime::resumeIfStopped(QProcess* process)
{
#ifdef Q_OS_UNIX
    if (process->processId() > 0)
        ::kill(pid_t(process->processId()), SIGCONT);
#else
    Q_UNUSED(process)
#endif
}

void ProcessLifetime::awaitChildren(std::chrono::milliseconds limit)
{
#ifdef Q_OS_WIN
    HANDLE job = applicationJob();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info {};
    while (job && QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr)
        && info.ActiveProcesses > 0 && std::chrono::steady_clock::now() < deadline)
        Sleep(50);
#else
    Q_UNUSED(limit)
#endif
}
