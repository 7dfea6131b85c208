#include "remote/accesskeyattempts.h"

#include <QTest>

class TestAccessKeyAttempts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Key attempts "<ms><address>" (a capital: the right key) and their verdicts: "L" logged, "L<n>"
    // logged with n unlogged before it, "-" not logged; "+" answered late.
    void verdicts_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("verdicts");
        const auto tries = [](int n, int step) {
            QStringList events;
            for (int i = 0; i < n; ++i)
                events << QString::number(i * step) + 'a';
            return events.join(' ');
        };
        QTest::addRow("a line a second per address, counting the rest") << "0a 1b 400a 999a 1000a 1500a 2600a 2600A"
                                                                        << "L L - - L2 - L1 -";
        QTest::addRow("the tenth in a minute is late") << tries(10, 6000) << "L L L L L L L L L L+";
        QTest::addRow("ten in more than a minute are not") << tries(10, 6667) << "L L L L L L L L L L";
        QTest::addRow("late until the first of ten is a minute old, for that address alone")
            << tries(10, 10) + " 59999A 59999B 60000A"
            << "L - - - - - - - - -+ -+ - -";
        QTest::addRow("failures a minute old are forgotten") << "0a 10a 70000a"
                                                             << "L - L";
    }

    void verdicts()
    {
        QFETCH(QString, events);
        qint64 now = 0;
        AccessKeyAttempts attempts([&now] { return now; });
        QStringList seen;
        for (const QString& event : events.split(' ')) {
            now = event.chopped(1).toLongLong();
            const AccessKeyAttempts::Verdict v = attempts.attempt(event.right(1).toLower(), event.back().isLower());
            seen << (v.log ? "L" + (v.unlogged ? QString::number(v.unlogged) : QString()) : "-")
                    + (v.delayMs ? "+" : "");
        }
        QTEST(seen.join(' '), "verdicts");
    }
};

QTEST_GUILESS_MAIN(TestAccessKeyAttempts)
#include "tst_accesskeyattempts.moc"
