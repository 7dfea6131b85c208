#include "app/directoryvalidator.h"

#include <QFileInfo>

QValidator::State DirectoryValidator::validate(QString& input, int& position) const
{
    Q_UNUSED(position)
    if (input.isEmpty())
        return Intermediate;
    const QFileInfo info(input);
    return info.exists() && info.isDir() && info.isWritable() ? Acceptable : Intermediate;
}
