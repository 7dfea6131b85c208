#include "app/logger.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>

namespace
{

// Captured before main runs, so the installed handler can pass messages on.
const QtMessageHandler previousHandler = qInstallMessageHandler(nullptr);

// Never replaced after init(); the mutex keeps lines from different threads whole.
QFile* logFile = nullptr;
QMutex logMutex;

// Names from the network reach the log: a line break in one must not start a line of its own.
QString oneLine(const QString& text)
{
    const auto needsEscape = [](QChar c) {
        return c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
    };
    if (std::none_of(text.cbegin(), text.cend(), needsEscape))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (!needsEscape(c))
            out += c;
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace

Logger::~Logger()
{
    QMutexLocker lock(&logMutex);
    if (logFile)
        logFile->close();
}

QString Logger::fileNameFor(const QString& prefix, const QDateTime& time)
{
    return prefix + time.toString(QStringLiteral(" yyyy.MM.dd hh.mm.ss")) + QStringLiteral(".txt");
}

QString Logger::lineFor(const QString& message, const QDateTime& time)
{
    return time.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss ")) + oneLine(message);
}

void Logger::init(const QString& prefix)
{
    if (prefix.isEmpty())
        return;
    QMutexLocker lock(&logMutex);
    if (logFile)
        return;
    logFile = new QFile(fileNameFor(prefix, QDateTime::currentDateTime()));
    logFile->open(QIODevice::Append | QIODevice::Text);
}

void Logger::write(QString value)
{
    const QString line = lineFor(value, QDateTime::currentDateTime());
    {
        QMutexLocker lock(&logMutex);
        if (logFile && logFile->isOpen()) {
            // One write per line: the line and its end reach the file together.
            logFile->write((line + QLatin1Char('\n')).toUtf8());
            logFile->flush();
        }
    }
    qDebug().noquote() << line;
}

void Logger::messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg)
        return;
    if (previousHandler)
        previousHandler(type, context, message);
}
