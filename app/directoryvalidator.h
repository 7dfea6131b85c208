#pragma once

#include <QValidator>
#include <QtQml/qqmlregistration.h>

// Accepts an existing, writable folder; any other text is Intermediate, so it can still be typed.
class DirectoryValidator : public QValidator
{
    Q_OBJECT
    QML_ELEMENT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& position) const override;
};
