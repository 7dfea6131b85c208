#pragma once

#include <QObject>
#include <QString>
#include <QtGlobal>

class QFile;

// The run's log: one file per run, one time-stamped line per call, also echoed to Qt's debug output.
class Logger : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~Logger() override;

    // Opens "<prefix> yyyy.MM.dd hh.mm.ss.txt" for appending; an empty prefix means no file.
    static void init(const QString& prefix);

    // Drops Qt's own warnings; everything else goes to the handler that was there before.
    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    static QString fileNameFor(const QString& prefix, const QDateTime& time);
    // The message on one line: a control character in it is written as \n, \r, \t or \u001b.
    static QString lineFor(const QString& message, const QDateTime& time);

public Q_SLOTS:
    static void write(QString value);
};
