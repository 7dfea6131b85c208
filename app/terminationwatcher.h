#pragma once

#include <QObject>
#include <QString>

#include <memory>

// Turns a request to end from outside into a signal on the main thread, so that a logout, a
// shutdown or a service stop runs the same orderly teardown as closing the window (settings saved,
// recordings finalised). Linux: SIGINT and SIGTERM. Windows: the session ending, and another
// program closing the window (which a user's close, refused while recording, is not).
class TerminationWatcher : public QObject
{
    Q_OBJECT
public:
    explicit TerminationWatcher(QObject* parent = nullptr);
    ~TerminationWatcher() override;

Q_SIGNALS:
    // What asked, for the log: "signal 15", "the session ending", ...
    void terminationRequested(QString what);

private:
    class Listener;
    std::unique_ptr<Listener> m_listener;
};
