#pragma once

#include <QValidator>

// Accepts an existing, writable folder; any other text is Intermediate, so it can still be typed.
class DirectoryValidator : public QValidator
{
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& position) const override;
};
