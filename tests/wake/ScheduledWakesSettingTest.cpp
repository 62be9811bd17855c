#include "QtPrinters.h"
#include "ScheduledWakesSetting.h"
#include "TestSupport.h"

#include <QSettings>
#include <gtest/gtest.h>

namespace {

void store(const QVariant &value)
{
    QSettings().setValue(QLatin1String(ScheduledWakesSetting::kKey), value);
}

TEST(ScheduledWakesSettingTest, ReadsNumbersAndTheirTextualFormAndNothingElse)
{
    testsupport::clearSettings();
    EXPECT_TRUE(ScheduledWakesSetting::read().isEmpty());

    store(QVariantList{1893456031.0, 1893456100});
    EXPECT_EQ(ScheduledWakesSetting::read(), (QSet<qint64>{1893456031000, 1893456100000}));
    // The settings file keeps no types: a list comes back as texts, a
    // one-element list as a single text.
    store(QStringList{QStringLiteral("1893456031"), QStringLiteral(" 1893456100.5")});
    EXPECT_EQ(ScheduledWakesSetting::read(), (QSet<qint64>{1893456031000, 1893456100500}));
    store(QStringLiteral("1893456031"));
    EXPECT_EQ(ScheduledWakesSetting::read(), (QSet<qint64>{1893456031000}));

    // Any element that is not a number means the empty set.
    for (const QVariant &value : {QVariant(QVariantList{1893456031.0, true}),
                                  QVariant(QStringList{QStringLiteral("1893456031"), QString()}),
                                  QVariant(QVariantList{1e300})}) {
        store(value);
        EXPECT_TRUE(ScheduledWakesSetting::read().isEmpty()) << value.toString().toStdString();
    }
    testsupport::clearSettings();
}

} // namespace
