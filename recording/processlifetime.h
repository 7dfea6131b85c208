#pragma once

#include <chrono>

class QProcess;

// Ties a child process's life to the application's: it ends when the application does, even when
// the application is killed. Linux: a parent-death signal (SIGTERM, so that the child can finish
// its file). Windows: a job object that ends its processes when the application's handle closes.
class ProcessLifetime
{
public:
    // Before start(): takes effect as the process starts.
    static void tieToApplication(QProcess* process);
    // Wakes a process that was stopped (Unix job control); nothing to do where there is none.
    static void resumeIfStopped(QProcess* process);
    // At the orderly end, once every child was told to finish: waits up to the limit for them to
    // do so where the application's end would cut them short (Windows: the job ends them with
    // us). Linux returns at once: the children outlive us until they are done.
    static void awaitChildren(std::chrono::milliseconds limit);
};
