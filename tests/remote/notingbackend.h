#pragma once

#include "remote/tcpprotocol.h"

#include <QJsonArray>

// Snapshots are written as partial aggregates: the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// Notes every call and answers the same text, so a caller sees exactly what one line did.
class NotingBackend : public TcpProtocol::Backend
{
public:
    QStringList calls, sources;
    QByteArray written;
    QString answer = QStringLiteral("success");
    QList<SlotSnapshot> slotList;
    QJsonArray records;
    bool isAdmitted = true;

    QString note(const QString& call) { return calls << call, answer; }
    QString recordingStart(uint s) override { return note(QStringLiteral("start %1").arg(s)); }
    QString recordingStop(uint s) override { return note(QStringLiteral("stop %1").arg(s)); }
    QString connectSource(uint s, const QString& v) override
    {
        return note(QStringLiteral("connect %1 [%2]").arg(s).arg(v));
    }
    QString renameSlot(uint, const QString&) override { return note(QStringLiteral("rename")); } // HTTP only
    QString disconnectSource(uint s) override { return note(QStringLiteral("disconnect %1").arg(s)); }
    QString listenOn(uint s) override { return note(QStringLiteral("listen %1").arg(s)); }
    QString listenOff() override { return note(QStringLiteral("listen off")); }
    QStringList sourceNames() override { return sources; }
    QList<SlotSnapshot> slotSnapshots() override { return slotList; }
    void setSubscribed(CommandTable::Subscription what, bool on) override
    {
        const char* names[] = { "tally", "recording", "progress", "state" };
        note(QStringLiteral("%1 %2").arg(QLatin1String(names[int(what)])).arg(on));
    }
    QJsonArray recordings() override { return records; }
    QString authenticate(const QString& key) override
    {
        isAdmitted = note(QStringLiteral("auth [%1]").arg(key)) == QLatin1String("success");
        return answer;
    }
    bool admitted() override { return isAdmitted; }
    void write(const QByteArray& bytes) override { written += bytes; }
};
