#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a signal on the main thread, so that a logout or a service stop
// runs the same orderly teardown as closing the window (settings saved, recordings finalised).
class UnixSignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit UnixSignalWatcher(QObject* parent = nullptr);
    ~UnixSignalWatcher() override;

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    static void handleSignal(int signalNumber);
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};
