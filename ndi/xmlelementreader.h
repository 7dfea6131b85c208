#pragma once

#include <QByteArray>
#include <QString>
#include <QXmlStreamAttributes>

// The name and the few attributes we care about of the first start element in one line of bytes.
// Used for the recording program's reports and for NDI metadata.
struct XmlElementInfo {
    QString name; // local name; empty when the line holds no element
    QString error; // attribute "error"
    qint32 noFrames = 0; // attribute "no_frames"; 0 when absent, not a number or out of range
    bool onProgram = false; // attribute "on_program" is exactly "true"
    bool onPreview = false; // attribute "on_preview" is exactly "true"
    QXmlStreamAttributes attributes; // all of them, for the reports that carry more
};

XmlElementInfo readXmlElement(const QByteArray& line);
