#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>

// Collects the log lines (Logger::write also goes to the debug output) of this process, from any thread.
class LogCapture
{
public:
    static void install()
    {
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type != QtDebugMsg)
                return;
            QMutexLocker lock(&mutex());
            // Logger lines start with "dd.MM.yyyy hh:mm:ss ".
            lines().append(message.size() > 20 && message.at(2) == QLatin1Char('.') ? message.mid(20) : message);
        });
    }
    static QStringList take()
    {
        QMutexLocker lock(&mutex());
        const QStringList result = lines();
        lines().clear();
        return result;
    }
    static QStringList peek()
    {
        QMutexLocker lock(&mutex());
        return lines();
    }
    static void clear() { take(); }
    static bool contains(const QString& text)
    {
        const QStringList seen = peek();
        return std::any_of(seen.cbegin(), seen.cend(), [&](const QString& line) { return line.endsWith(text); });
    }
    // A line matching the pattern (e.g. a peer address in either of Qt's forms).
    static bool matches(const QString& pattern)
    {
        const QRegularExpression expression(pattern);
        const QStringList seen = peek();
        return std::any_of(
            seen.cbegin(), seen.cend(), [&](const QString& line) { return expression.match(line).hasMatch(); });
    }

private:
    static QMutex& mutex()
    {
        static QMutex* m = new QMutex; // outlives every thread that logs
        return *m;
    }
    static QStringList& lines()
    {
        static QStringList* l = new QStringList;
        return *l;
    }
};
