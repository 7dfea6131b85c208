#include "tests/common/testenv.h"

#include "outputfile.h"
#include "recordercommand.h"
#include "recorderoptions.h"
#include "reportwriter.h"

#include <QFile>
#include <QTest>

#include <string>
#include <vector>

using Kind = RecorderCommand::Kind;
Q_DECLARE_METATYPE(RecorderCommand::Kind)

// The recording program's side of the wire: commands read from stdin, the command line, report
// escaping and the names of its files.
class TestRecorderProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commands_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<double>("gain");
        QTest::addColumn<QByteArray>("filename");
        QTest::addRow("start with CR") << QByteArray("<start/>\r") << Kind::Start << 0.0 << QByteArray();
        QTest::addRow("quit") << QByteArray("<quit/>") << Kind::Quit << 0.0 << QByteArray();
        QTest::addRow("exit means quit") << QByteArray("  <exit/>  ") << Kind::Quit << 0.0 << QByteArray();
        QTest::addRow("level") << QByteArray("<record_level gain=\"-20\"/>") << Kind::Level << -20.0 << QByteArray();
        QTest::addRow("level with fraction")
            << QByteArray("<record_level gain=\"-14.5\"/>") << Kind::Level << -14.5 << QByteArray();
        QTest::addRow("level in exponent form")
            << QByteArray("<record_level gain=\"1e-07\"/>") << Kind::Level << 1e-7 << QByteArray();
        QTest::addRow("level, single quotes")
            << QByteArray("<record_level gain='6'/>") << Kind::Level << 6.0 << QByteArray();
        QTest::addRow("level not a number")
            << QByteArray("<record_level gain=\"loud\"/>") << Kind::Unknown << 0.0 << QByteArray();
        QTest::addRow("level infinite") << QByteArray("<record_level gain=\"inf\"/>") << Kind::Unknown << 0.0
                                        << QByteArray();
        QTest::addRow("level not a number at all")
            << QByteArray("<record_level gain=\"nan\"/>") << Kind::Unknown << 0.0 << QByteArray();
        QTest::addRow("level without gain") << QByteArray("<record_level/>") << Kind::Unknown << 0.0 << QByteArray();
        QTest::addRow("level with trailing junk")
            << QByteArray("<record_level gain=\"-3dB\"/>") << Kind::Unknown << 0.0 << QByteArray();
        QTest::addRow("chop without name") << QByteArray("<record_chop/>") << Kind::Chop << 0.0 << QByteArray();
        QTest::addRow("chop with name") << QByteArray("<record_chop filename=\"/r/a b.mov\"/>") << Kind::Chop << 0.0
                                        << QByteArray("/r/a b.mov");
        QTest::addRow("raw ampersand and parentheses") << QByteArray("<record_chop filename=\"/r/R&D (Cam 1).mov\"/>")
                                                       << Kind::Chop << 0.0 << QByteArray("/r/R&D (Cam 1).mov");
        QTest::addRow("raw quote inside the name") << QByteArray("<record_chop filename=\"/r/say \"hi\".mov\"/>")
                                                   << Kind::Chop << 0.0 << QByteArray("/r/say \"hi\".mov");
        QTest::addRow("escaped entities") << QByteArray("<record_chop filename=\"/r/a&amp;b &quot;c&quot;.mov\"/>")
                                          << Kind::Chop << 0.0 << QByteArray("/r/a&b \"c\".mov");
        QTest::addRow("UTF-8 name") << QByteArray("<record_chop filename=\"/r/\xc3\xa9.mov\"/>") << Kind::Chop << 0.0
                                    << QByteArray("/r/\xc3\xa9.mov");
        QTest::addRow("attribute name inside another")
            << QByteArray("<record_chop xfilename=\"/x.mov\"/>") << Kind::Chop << 0.0 << QByteArray();
        QTest::addRow("empty line") << QByteArray("\r") << Kind::None << 0.0 << QByteArray();
        QTest::addRow("not an element") << QByteArray("start") << Kind::Unknown << 0.0 << QByteArray();
        QTest::addRow("unknown element") << QByteArray("<pause/>") << Kind::Unknown << 0.0 << QByteArray();
        QTest::addRow("unclosed element") << QByteArray("<start") << Kind::Unknown << 0.0 << QByteArray();
        QTest::addRow("lone bracket") << QByteArray("<") << Kind::Unknown << 0.0 << QByteArray();
    }

    void commands()
    {
        QFETCH(QByteArray, line);
        QFETCH(Kind, kind);
        QFETCH(double, gain);
        QFETCH(QByteArray, filename);
        const RecorderCommand command = RecorderCommand::parse(line.toStdString());
        QCOMPARE(command.kind, kind);
        QCOMPARE(command.gain, gain);
        QCOMPARE(QByteArray::fromStdString(command.filename), filename);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("thumbnail");
        QTest::addColumn<bool>("autostart");
        QTest::addRow("as the app starts it")
            << QStringList { "-i", "Cam (1)", "-o", "/r/x.mov", "-u", "10.0.0.1:5961", "-nothumbnail", "-noautostart" }
            << true << "Cam (1)"
            << "10.0.0.1:5961" << false << false;
        QTest::addRow("defaults") << QStringList { "-i", "A", "-o", "/r/x.mov" } << true << "A"
                                  << "" << true << true;
        QTest::addRow("source looking like an option")
            << QStringList { "-i", "-nothumbnail", "-o", "/r/x.mov" } << true << "-nothumbnail"
            << "" << true << true;
        QTest::addRow("unknown arguments ignored")
            << QStringList { "-x", "-i", "A", "-o", "/r/x.mov", "extra" } << true << "A"
            << "" << true << true;
        QTest::addRow("no source") << QStringList { "-o", "/r/x.mov" } << false << ""
                                   << "" << true << true;
        QTest::addRow("empty source") << QStringList { "-i", "", "-o", "/r/x.mov" } << false << ""
                                      << "" << true << true;
        QTest::addRow("no output") << QStringList { "-i", "A" } << false << "A"
                                   << "" << true << true;
        QTest::addRow("option without value") << QStringList { "-i", "A", "-o" } << false << "A"
                                              << "" << true << true;
    }

    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        QFETCH(QString, source);
        QFETCH(QString, url);
        QFETCH(bool, thumbnail);
        QFETCH(bool, autostart);
        std::vector<std::string> storage { "record" };
        for (const QString& arg : args)
            storage.push_back(arg.toStdString());
        std::vector<const char*> argv;
        for (const std::string& s : storage)
            argv.push_back(s.c_str());
        RecorderOptions options;
        std::string error;
        QCOMPARE(RecorderOptions::parse(int(argv.size()), argv.data(), &options, &error), ok);
        QCOMPARE(error.empty(), ok);
        if (!ok)
            return;
        QCOMPARE(QString::fromStdString(options.sourceName), source);
        QCOMPARE(QString::fromStdString(options.url), url);
        QCOMPARE(options.thumbnail, thumbnail);
        QCOMPARE(options.autostart, autostart);
    }

    void reportEscaping_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("escaped");
        QTest::addRow("plain") << QByteArray("/r/Cam 1.mov") << QByteArray("/r/Cam 1.mov");
        QTest::addRow("markup") << QByteArray("R&D <\"a\"> 'b'")
                                << QByteArray("R&amp;D &lt;&quot;a&quot;&gt; &apos;b&apos;");
        QTest::addRow("line breaks stay one line") << QByteArray("a\nb\rc") << QByteArray("a&#10;b&#13;c");
        QTest::addRow("control characters") << QByteArray("a\x01z") << QByteArray("a z");
        QTest::addRow("UTF-8 untouched") << QByteArray("\xc3\xa9") << QByteArray("\xc3\xa9");
    }

    void reportEscaping()
    {
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, escaped);
        QCOMPARE(QByteArray::fromStdString(ReportWriter::escape(value.toStdString())), escaped);
    }

    void numberedNames_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("numbered");
        QTest::addRow("first is the name itself") << "/r/a.mov" << 1 << "/r/a.mov";
        QTest::addRow("second") << "/r/a.mov" << 2 << "/r/a (2).mov";
        QTest::addRow("dots in the folder") << "/r.d/a" << 3 << "/r.d/a (3)";
        QTest::addRow("hidden file") << "/r/.mov" << 2 << "/r/.mov (2)";
        QTest::addRow("several dots") << "/r/a.b.mov" << 2 << "/r/a.b (2).mov";
    }

    void numberedNames()
    {
        QFETCH(QString, path);
        QFETCH(int, number);
        QFETCH(QString, numbered);
        QCOMPARE(QString::fromStdString(OutputFile::numbered(path.toStdString(), number)), numbered);
    }

    void claimNeverTakesAnExistingFile()
    {
        const QString dir = TestEnv::makeFolder(QStringLiteral("claim"));
        QFile existing(dir + QStringLiteral("/a.mov"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("keep");
        existing.close();
        std::string claimed;
        std::string error;
        QVERIFY(OutputFile::claim((dir + QStringLiteral("/a.mov")).toStdString(), &claimed, &error));
        QCOMPARE(QString::fromStdString(claimed), dir + QStringLiteral("/a (2).mov"));
        QVERIFY(OutputFile::claim((dir + QStringLiteral("/a.mov")).toStdString(), &claimed, &error));
        QCOMPARE(QString::fromStdString(claimed), dir + QStringLiteral("/a (3).mov"));
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), QByteArray("keep"));

        QVERIFY(!OutputFile::claim((dir + QStringLiteral("/missing/a.mov")).toStdString(), &claimed, &error));
        QCOMPARE(QString::fromStdString(error),
            QStringLiteral("Folder does not exist: ") + dir + QStringLiteral("/missing"));
    }
};

QTEST_GUILESS_MAIN(TestRecorderProtocol)
#include "tst_recorderprotocol.moc"
