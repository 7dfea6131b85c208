#pragma once

#include <QMutex>
#include <QRegularExpression>
#include <QStringList>

// The log lines of this process (Logger::write also goes to the debug output), from any thread,
// without their time stamp ("dd.MM.yyyy hh:mm:ss ").
class LogCapture
{
public:
    static void install()
    {
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            QMutexLocker lock(&state().mutex);
            if (type == QtDebugMsg)
                state().lines.append(text.size() > 20 && text.at(2) == QLatin1Char('.') ? text.mid(20) : text);
        });
    }
    static QStringList peek()
    {
        QMutexLocker lock(&state().mutex);
        return state().lines;
    }
    static QStringList take()
    {
        QMutexLocker lock(&state().mutex);
        return std::exchange(state().lines, {});
    }
    static void clear() { take(); }
    static bool contains(const QString& text)
    {
        return !peek().filter(QRegularExpression(QRegularExpression::escape(text) + '$')).isEmpty();
    }
    // A line matching the pattern (e.g. a peer address in either of Qt's forms).
    static bool matches(const QString& pattern) { return !peek().filter(QRegularExpression(pattern)).isEmpty(); }

private:
    struct State {
        QMutex mutex;
        QStringList lines;
    };
    static State& state()
    {
        static State* s = new State;
        return *s;
    } // outlives every thread that logs
};
