#include "slots/slotsettingsstore.h"

#include <QSettings>

#include <algorithm>

namespace
{

// One list of keys for both directions, so reading and writing can never disagree.
template <typename Values, typename Visit> void eachKey(Values& values, Visit visit)
{
    visit("source", values.source);
    visit("displayName", values.displayName);
    visit("showLevels", values.showLevels);
    visit("customLocationEnabled", values.customLocationEnabled);
    visit("locationBSelected", values.locationBSelected);
    visit("customLocation", values.customLocation);
    visit("customLocationB", values.customLocationB);
    visit("viewingOnly", values.viewingOnly);
    visit("audioGain", values.audioGain);
    visit("recordPreview", values.recordPreview);
    visit("isFullRes", values.isFullRes);
}

} // namespace

SlotSettingsStore::Values SlotSettingsStore::load(int number, Values values)
{
    // Keys are read wherever they exist: a run with fewer slots must not hide what a run with
    // more slots stored.
    QSettings settings;
    settings.beginReadArray(QStringLiteral("slots"));
    settings.setArrayIndex(number);
    eachKey(values, [&settings](const char* key, auto& value) {
        const QString name = QLatin1String(key);
        if (settings.contains(name))
            value = settings.value(name).value<std::decay_t<decltype(value)>>();
    });
    settings.endArray();
    return values;
}

void SlotSettingsStore::save(int number, const Values& values)
{
    QSettings settings;
    const int storedSize = settings.beginReadArray(QStringLiteral("slots"));
    settings.endArray();
    settings.beginWriteArray(QStringLiteral("slots"), std::max(storedSize, number + 1));
    settings.setArrayIndex(number);
    eachKey(values, [&settings](const char* key, const auto& value) {
        settings.setValue(QLatin1String(key), QVariant::fromValue(value));
    });
    settings.endArray();
}
