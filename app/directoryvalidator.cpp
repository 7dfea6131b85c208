#include "app/directoryvalidator.h"

#include <QFileInfo>

QValidator::State DirectoryValidator::validate(QString& input, int& position) const
{
    Q_UNUSED(position)
    return problem(input).isEmpty() ? Acceptable : Intermediate;
}

QString DirectoryValidator::problem(const QString& input)
{
    if (input.isEmpty())
        return QStringLiteral("No folder: choose one");
    const QFileInfo info(input);
    if (!info.exists())
        return QStringLiteral("Folder does not exist: create it or choose another");
    if (!info.isDir())
        return QStringLiteral("Not a folder but a file: choose a folder");
    if (!info.isWritable())
        return QStringLiteral("Folder cannot be written to: choose another");
    return {};
}
