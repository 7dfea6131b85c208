#pragma once

#include <QProcessEnvironment>
#include <QString>

// Every test process runs in a private home: before main() the XDG folders (and HOME) point into
// a fresh temporary folder, so no test reads or writes the user's settings, logs or videos. The
// display and sound server started by the "headless" CTest fixture are picked up here as well.
namespace TestEnv
{

QString root(); // the private temporary folder of this test process
QString binDir(); // <build>/bin: the app, the recording program, the NDI runtime, panel/
bool hasDisplay(); // an X display (Xvfb) is available
bool hasSound(); // a PulseAudio server with a null sink is available
QString makeFolder(const QString& name); // a new folder under root()
quint16 freePort(); // a port nobody listens on right now (the OS picks it)

// Starts a PulseAudio server (null sink "nullsink") of this process's own and points the process
// at it, for tests that take the sink away; call it before anything opens a sound device. It is
// stopped at exit. False if none could be started.
bool useOwnSoundServer();

// The environment for a child process: this process's environment with its own fresh XDG folders
// under root()/name (so the child's settings and logs can be inspected afterwards).
QProcessEnvironment childEnvironment(const QString& name);

} // namespace TestEnv
