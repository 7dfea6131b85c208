#pragma once

#include <QIntValidator>
#include <QtQml/qqmlregistration.h>

// Accepts a whole number in the range the named setting allows; the ranges live here only, and
// problem() names the range for the field to show.
class RangeValidator : public QIntValidator
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString setting READ setting WRITE setSetting NOTIFY settingChanged)
public:
    using QIntValidator::QIntValidator;

    QString setting() const { return m_setting; }
    void setSetting(const QString& setting);
    // Empty when the text is a number in range.
    Q_INVOKABLE QString problem(const QString& input) const;

Q_SIGNALS:
    void settingChanged();

private:
    QString m_setting;
    QString m_unit;
};
