#include "app/directoryvalidator.h"
#include "tests/common/testenv.h"

#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <atomic>

#include <sys/mount.h>
#include <unistd.h>

class TestDirectoryValidator : public QObject
{
    Q_OBJECT
    const QString checking = QStringLiteral("Checking the folder…");
    const QString hung = QStringLiteral("/share/hung");
    QString m_folder, m_readOnly;
    bool m_sealed = false;
    // The looks the tests hold: members, so that a look left hanging by a failed test finds them.
    QSemaphore m_started, m_release;
    std::atomic<int> m_looks { 0 };
    std::atomic<bool> m_returned { false };

    // Looks at the file system, but for the hung folder: that one waits for the test (10 s at most).
    void hangLooksAtHung()
    {
        DirectoryValidator::setLook([this](const QString& folder) {
            if (folder != hung)
                return DirectoryValidator::lookAt(folder);
            m_started.release();
            m_release.tryAcquire(1, 10000);
            m_returned = true;
            return QString();
        });
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = TestEnv::makeFolder(QStringLiteral("validator"));
        m_readOnly = TestEnv::makeFolder(QStringLiteral("readonly"));
        QVERIFY(QFile(m_folder + "/file").open(QIODevice::WriteOnly));
        // Root writes through permission bits; only a read-only file system stops it.
        m_sealed = ::geteuid() ? QFile::setPermissions(m_readOnly, QFile::ReadOwner | QFile::ExeOwner)
                               : ::mount("tmpfs", qPrintable(m_readOnly), "tmpfs", MS_RDONLY, "size=1m") == 0;
    }

    void cleanupTestCase()
    {
        if (::geteuid() == 0 && m_sealed)
            ::umount(qPrintable(m_readOnly));
    }

    void init()
    {
        m_started.acquire(m_started.available());
        m_release.acquire(m_release.available());
        m_looks = 0;
        m_returned = false;
    }

    void cleanup() { DirectoryValidator::setLook({}); }

    // Missing and empty folders are the settings fields' test; a file or an unwritable folder is none.
    void answers_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("problem");
        QTest::addRow("a writable folder") << m_folder << QString();
        QTest::addRow("a file") << m_folder + "/file" << QStringLiteral("Not a folder but a file: choose a folder");
        if (m_sealed)
            QTest::addRow("a read-only folder")
                << m_readOnly << QStringLiteral("Folder cannot be written to: choose another");
    }

    void answers()
    {
        QFETCH(QString, input);
        QFETCH(QString, problem);
        DirectoryValidator validator;
        QSignalSpy changed(&validator, &QValidator::changed);
        int position = 0;
        QCOMPARE(validator.problem(input), checking);
        QCOMPARE(validator.validate(input, position), QValidator::Intermediate);
        QVERIFY(changed.wait());
        QCOMPARE(validator.problem(input), problem);
        QCOMPARE(
            validator.validate(input, position), problem.isEmpty() ? QValidator::Acceptable : QValidator::Intermediate);
    }

    // A look that hangs holds up neither the caller nor the looks at other folders; past the
    // time-out the drive is said not to answer, until it does.
    void hungLook()
    {
        hangLooksAtHung();
        DirectoryValidator validator;
        QSignalSpy changed(&validator, &QValidator::changed), answers(&validator, &DirectoryValidator::answersChanged);
        QCOMPARE(validator.problem(hung), checking);
        QCOMPARE(validator.problem(m_folder), checking);
        QVERIFY(changed.wait());
        QCOMPARE(validator.problem(m_folder), QString());
        QCOMPARE(validator.problem(hung), checking);
        QVERIFY(changed.wait(10000));
        QCOMPARE(validator.problem(hung), QStringLiteral("Drive not answering: ") + hung);
        QVERIFY(!m_returned);
        m_release.release();
        QVERIFY(changed.wait());
        QCOMPARE(validator.problem(hung), QString());
        QString input = hung;
        int position = 0;
        QCOMPARE(validator.validate(input, position), QValidator::Acceptable);
        QCOMPARE(changed.count(), 3);
        QCOMPARE(answers.count(), 3);
        QCOMPARE(validator.answers(), 3);
    }

    // An answer older than the time-out is looked at again when asked for, and shown until the new
    // one comes.
    void staleAnswerIsLookedAgain()
    {
        DirectoryValidator::setLook([this](const QString&) {
            const int look = ++m_looks;
            if (look == 2)
                m_release.tryAcquire(1, 10000);
            return QStringLiteral("look %1").arg(look);
        });
        const QString folder = QStringLiteral("/share/folder");
        DirectoryValidator validator;
        QSignalSpy changed(&validator, &QValidator::changed);
        QCOMPARE(validator.problem(folder), checking);
        QVERIFY(changed.wait());
        QCOMPARE(validator.problem(folder), QStringLiteral("look 1"));
        QCOMPARE(m_looks.load(), 1);
        QTRY_VERIFY_WITH_TIMEOUT((validator.problem(folder), m_looks.load() == 2), 10000);
        QCOMPARE(validator.problem(folder), QStringLiteral("look 1"));
        m_release.release();
        QVERIFY(changed.wait());
        QCOMPARE(validator.problem(folder), QStringLiteral("look 2"));
    }

    // A validator that goes while its look hangs does not wait for it; the look's return ends the
    // validator's threads.
    void goneWhileLookHangs()
    {
        hangLooksAtHung();
        auto validator = std::make_unique<DirectoryValidator>();
        auto* pool = validator->findChild<QThreadPool*>();
        QVERIFY(pool);
        QSignalSpy ended(pool, &QObject::destroyed);
        QCOMPARE(validator->problem(hung), checking);
        QVERIFY(m_started.tryAcquire(1, 10000));
        validator.reset();
        QVERIFY(!m_returned);
        QVERIFY(ended.isEmpty());
        m_release.release();
        QVERIFY(ended.wait());
        QVERIFY(m_returned);
    }
};

QTEST_GUILESS_MAIN(TestDirectoryValidator)
#include "tst_directoryvalidator.moc"
