#pragma once

#include <QValidator>
#include <QtQml/qqmlregistration.h>

// Accepts an existing, writable folder; any other text is Intermediate, so it can still be typed.
// problem() says in words what keeps a text from being accepted, for the field to show.
class DirectoryValidator : public QValidator
{
    Q_OBJECT
    QML_ELEMENT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& position) const override;
    // Empty when the folder is acceptable.
    Q_INVOKABLE static QString problem(const QString& input);
};
