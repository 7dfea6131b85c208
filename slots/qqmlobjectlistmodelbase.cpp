#include "slots/qqmlobjectlistmodelbase.h"

const QSet<QByteArray>& QQmlObjectListModelBase::reservedRoleNames()
{
    static const QSet<QByteArray> names {
        QByteArrayLiteral("id"),
        QByteArrayLiteral("index"),
        QByteArrayLiteral("class"),
        QByteArrayLiteral("model"),
        QByteArrayLiteral("modelData"),
    };
    return names;
}
