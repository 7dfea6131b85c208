#pragma once

#include <QProcessEnvironment>
#include <QString>

// Before main() this process gets a private home (XDG folders and HOME in a fresh temporary
// folder), so no test touches the user's settings, logs or videos; the "headless" fixture's display
// and sound server are picked up as well.
namespace TestEnv {
QString root();
QString binDir(); // the app, the recording program, the network runtime, panel/
bool hasDisplay();
bool hasSound();
QString makeFolder(const QString& name); // under root()
quint16 freePort();
// A sound server (null sink "nullsink") of this process's own, for tests that take the sink away;
// call it before anything opens a sound device.
bool useOwnSoundServer();
// This environment with fresh XDG folders under root()/name, for a child to be inspected later.
QProcessEnvironment childEnvironment(const QString& name);
} // namespace TestEnv
