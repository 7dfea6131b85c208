#include "ndi/xmlelementreader.h"

#include <QXmlStreamAttributes>
#include <QXmlStreamReader>

XmlElementInfo readXmlElement(const QByteArray& line)
{
    XmlElementInfo info;
    QXmlStreamReader reader(line);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        // Only the first start element counts; what follows may be incomplete or broken.
        const QXmlStreamAttributes attributes = reader.attributes();
        info.name = reader.name().toString();
        const QStringView error = attributes.value(QLatin1String("error"));
        if (!error.isEmpty())
            info.error = error.toString();
        const QStringView noFrames = attributes.value(QLatin1String("no_frames"));
        if (!noFrames.isEmpty()) {
            bool ok = false;
            const int value = noFrames.toInt(&ok, 10);
            info.noFrames = ok ? value : 0;
        }
        info.onProgram = attributes.value(QLatin1String("on_program")) == QLatin1String("true");
        info.onPreview = attributes.value(QLatin1String("on_preview")) == QLatin1String("true");
        info.attributes = attributes;
        return info;
    }
    return XmlElementInfo();
}
