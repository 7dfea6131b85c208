#include "app/rangevalidator.h"

namespace
{

struct Range {
    const char* setting;
    int bottom;
    int top;
    const char* unit;
};

// Below 81 the TCP API would take the HTTP panel's usual port 80.
constexpr Range ranges[] = {
    { "tcpServerPort", 81, 65535, "" },
    { "httpServerPort", 80, 65535, "" },
    { "chopMinutes", 1, 65535, " minutes" },
};

} // namespace

void RangeValidator::setSetting(const QString& setting)
{
    if (setting == m_setting)
        return;
    m_setting = setting;
    for (const Range& range : ranges)
        if (setting == QLatin1String(range.setting)) {
            setRange(range.bottom, range.top);
            m_unit = QLatin1String(range.unit);
        }
    Q_EMIT settingChanged();
}

QString RangeValidator::problem(const QString& input) const
{
    QString text = input;
    int position = 0;
    if (validate(text, position) == Acceptable)
        return {};
    return QStringLiteral("Allowed: %1 to %2%3").arg(bottom()).arg(top()).arg(m_unit);
}
