#include "ndi/xmlelementreader.h"

#include <QTest>

class TestXmlElementReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reads_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("noFrames");
        QTest::addColumn<bool>("onProgram");
        QTest::addColumn<bool>("onPreview");

        QTest::addRow("bare element with line end") << QByteArray("<record_started/>\r\n") << "record_started"
                                                    << "" << 0 << false << false;
        QTest::addRow("error attribute") << QByteArray("<record_error error=\"disk full\"/>\n") << "record_error"
                                         << "disk full" << 0 << false << false;
        QTest::addRow("empty error attribute") << QByteArray("<record_error error=\"\"/>") << "record_error"
                                               << "" << 0 << false << false;
        QTest::addRow("error with entity") << QByteArray("<record_error error=\"a &amp; b\"/>") << "record_error"
                                           << "a & b" << 0 << false << false;
        QTest::addRow("single quotes") << QByteArray("<x error='e' no_frames='12'/>") << "x"
                                       << "e" << 12 << false << false;
        QTest::addRow("no_frames number") << QByteArray("<status no_frames=\"250\"/>") << "status"
                                          << "" << 250 << false << false;
        QTest::addRow("no_frames negative") << QByteArray("<status no_frames=\"-3\"/>") << "status"
                                            << "" << -3 << false << false;
        QTest::addRow("no_frames largest 32-bit") << QByteArray("<status no_frames=\"2147483647\"/>") << "status"
                                                  << "" << 2147483647 << false << false;
        QTest::addRow("no_frames too large for 32 bits") << QByteArray("<status no_frames=\"2147483648\"/>") << "status"
                                                         << "" << 0 << false << false;
        QTest::addRow("no_frames far too large")
            << QByteArray("<status no_frames=\"99999999999999999999\"/>") << "status"
            << "" << 0 << false << false;
        QTest::addRow("no_frames not a number") << QByteArray("<status no_frames=\"12abc\"/>") << "status"
                                                << "" << 0 << false << false;
        QTest::addRow("no_frames hexadecimal") << QByteArray("<status no_frames=\"0x10\"/>") << "status"
                                               << "" << 0 << false << false;
        QTest::addRow("tally both true") << QByteArray("<ndi_tally_echo on_program=\"true\" on_preview=\"true\"/>")
                                         << "ndi_tally_echo"
                                         << "" << 0 << true << true;
        QTest::addRow("tally preview only")
            << QByteArray("<ndi_tally_echo on_program=\"false\" on_preview=\"true\"/>") << "ndi_tally_echo"
            << "" << 0 << false << true;
        QTest::addRow("tally capital T") << QByteArray("<ndi_tally_echo on_program=\"True\" on_preview=\"TRUE\"/>")
                                         << "ndi_tally_echo"
                                         << "" << 0 << false << false;
        QTest::addRow("tally value with spaces")
            << QByteArray("<ndi_tally_echo on_program=\" true\"/>") << "ndi_tally_echo"
            << "" << 0 << false << false;
        QTest::addRow("attribute names are case-sensitive") << QByteArray("<a ERROR=\"x\" On_Program=\"true\"/>") << "a"
                                                            << "" << 0 << false << false;
        QTest::addRow("first element wins") << QByteArray("<outer error=\"o\"><inner error=\"i\"/></outer>") << "outer"
                                            << "o" << 0 << false << false;
        QTest::addRow("broken after the first element") << QByteArray("<first error=\"kept\"/><<<") << "first"
                                                        << "kept" << 0 << false << false;
        QTest::addRow("open element without end") << QByteArray("<open on_preview=\"true\">") << "open"
                                                  << "" << 0 << false << true;
        QTest::addRow("declaration first") << QByteArray("<?xml version=\"1.0\"?><decl/>") << "decl"
                                           << "" << 0 << false << false;
        QTest::addRow("local name of a prefixed element")
            << QByteArray("<n:item xmlns:n=\"urn:x\" error=\"p\"/>") << "item"
            << "p" << 0 << false << false;
        QTest::addRow("utf-8 attribute") << QByteArray("<e error=\"K\xc3\xa4se\"/>") << "e"
                                         << QString::fromUtf8("K\xc3\xa4se") << 0 << false << false;

        // Nothing usable: everything empty.
        QTest::addRow("empty line") << QByteArray() << ""
                                    << "" << 0 << false << false;
        QTest::addRow("plain text") << QByteArray("Something delayed everything.\r\n") << ""
                                    << "" << 0 << false << false;
        QTest::addRow("only a comment") << QByteArray("<!-- nothing -->") << ""
                                        << "" << 0 << false << false;
        QTest::addRow("broken start tag") << QByteArray("<record_error error=\"x") << ""
                                          << "" << 0 << false << false;
        QTest::addRow("text before element") << QByteArray("log: <record_started/>") << ""
                                             << "" << 0 << false << false;
        QTest::addRow("end tag only") << QByteArray("</record_started>") << ""
                                      << "" << 0 << false << false;
        QTest::addRow("binary") << QByteArray("\x00\x01\xff<a/>", 6) << ""
                                << "" << 0 << false << false;
    }

    void reads()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, name);
        QFETCH(QString, error);
        QFETCH(int, noFrames);
        QFETCH(bool, onProgram);
        QFETCH(bool, onPreview);

        const XmlElementInfo info = readXmlElement(line);
        QCOMPARE(info.name, name);
        QCOMPARE(info.error, error);
        QCOMPARE(info.noFrames, noFrames);
        QCOMPARE(info.onProgram, onProgram);
        QCOMPARE(info.onPreview, onPreview);
    }
};

QTEST_GUILESS_MAIN(TestXmlElementReader)
#include "tst_xmlelementreader.moc"
