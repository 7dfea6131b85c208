#pragma once

#include <QProcessEnvironment>
#include <QString>

// Before main() this process gets a private home (XDG folders and HOME in a fresh temporary folder),
// so no test touches the user's settings, logs or videos; the "headless" fixture's display and sound
// server are picked up as well.
namespace TestEnv
{
QString root();
QString binDir(); // the app, the recording program, the network runtime, panel/
bool hasDisplay();
QString makeFolder(const QString& name); // under root()
quint16 freePort();
bool useOwnSoundServer(); // a null sink of this process's own, before anything opens a sound device
QProcessEnvironment childEnvironment(const QString& name); // fresh XDG folders under root()/name
} // namespace TestEnv
