#include "app/settingsmodel.h"
#include "render/mixer.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "tests/common/testenv.h"
#include "tests/common/simnetwork.h"
#include "tests/render/testreceiver.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QQmlEngine>
#include <QQuickView>
#include <QSurfaceFormat>
#include <QTest>

#include <memory>

namespace
{

// One input of the drawing list: a receiver that the test can plug in and out while the render
// thread pulls, the way a slot publishes its active receiver.
struct Input {
    std::shared_ptr<TestReceiver> receiver;
    std::shared_ptr<Receiver> published;

    void connect() { std::atomic_store(&published, std::static_pointer_cast<Receiver>(receiver)); }
    void disconnect() { std::atomic_store(&published, std::shared_ptr<Receiver>()); }
};

struct Source {
    TestReceiver::Format format;
    QColor color;
    int width = 1920;
    int height = 1080;
    float aspect = 0.0f;
};

// A sample point in window fractions and the colour expected there.
struct Probe {
    double x;
    double y;
    QColor color;
};

} // namespace

Q_DECLARE_METATYPE(Source)
Q_DECLARE_METATYPE(QList<Source>)
Q_DECLARE_METATYPE(QList<Probe>)

class TestMixer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QQuickView> m_view;
    Mixer* m_mixer = nullptr;
    std::vector<std::shared_ptr<Input>> m_inputs;

    // Builds a window of the given size with the Mixer under an empty QML scene, drawing the
    // given sources in the given grid. Returns false (after QSKIP) where no OpenGL 4 exists.
    bool makeScene(
        QSize size, int columns, int rows, int extras, const QList<Source>& sources, SlotListModel* slotList = nullptr)
    {
        m_inputs.clear();
        m_view = std::make_unique<QQuickView>();
        m_view->setResizeMode(QQuickView::SizeRootObjectToView);
        m_view->setColor(Qt::white); // anything the renderer leaves undrawn would show white
        m_view->setFlags(Qt::FramelessWindowHint);
        m_view->setSource(QUrl::fromLocalFile(QStringLiteral(TESTS_SOURCE_DIR "/render/mixerscene.qml")));
        if (m_view->status() != QQuickView::Ready)
            qWarning() << m_view->errors();
        m_mixer = m_view->rootObject() ? m_view->rootObject()->findChild<Mixer*>(QStringLiteral("mixer")) : nullptr;
        if (!m_mixer)
            return false;
        m_mixer->setGridShape(columns, rows, extras);
        std::vector<MixerRenderer::ReceiverSource> list;
        for (const Source& source : sources) {
            auto input = std::make_shared<Input>();
            input->receiver = std::make_shared<TestReceiver>(
                source.width, source.height, source.format, source.color, source.aspect);
            input->connect();
            m_inputs.push_back(input);
            list.push_back([input] { return std::atomic_load(&input->published); });
        }
        if (slotList)
            m_mixer->setSlotList(slotList);
        else
            m_mixer->setReceiverSources(std::move(list));
        m_view->resize(size);
        m_view->setPosition(0, 0);
        m_view->show();
        if (!QTest::qWaitForWindowExposed(m_view.get()))
            return false;
        return true;
    }

    bool haveOpenGl4()
    {
        if (m_view->rendererInterface()->graphicsApi() != QSGRendererInterface::OpenGL)
            return false;
        // A frame is painted only after the 4.0 core functions were found.
        (void)QTest::qWaitFor(
            [this] { return m_mixer->statistics().paintCount > 0 || m_mixer->cannotInitialize(); }, 10000);
        return m_mixer->statistics().paintCount > 0;
    }

    static QString mismatches(const QImage& image, const QList<Probe>& probes, int tolerance = 8)
    {
        QStringList out;
        for (const Probe& probe : probes) {
            const int px = std::min(image.width() - 1, int(probe.x * image.width()));
            const int py = std::min(image.height() - 1, int(probe.y * image.height()));
            const QColor actual = image.pixelColor(px, py);
            if (std::abs(actual.red() - probe.color.red()) > tolerance
                || std::abs(actual.green() - probe.color.green()) > tolerance
                || std::abs(actual.blue() - probe.color.blue()) > tolerance) {
                out << QStringLiteral("(%1,%2) is %3 not %4").arg(px).arg(py).arg(actual.name(), probe.color.name());
            }
        }
        return out.join(QStringLiteral("; "));
    }

    QString grabMismatches(const QList<Probe>& probes) { return mismatches(m_view->grabWindow(), probes); }

    // Small pictures keep the software renderer quick; where they sit does not depend on size.
    static QList<Source> sources(int count, TestReceiver::Format format, QSize frame = QSize(1920, 1080))
    {
        static const QColor palette[] = { Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::cyan, Qt::magenta,
            QColor(255, 128, 0), QColor(128, 0, 255), QColor(0, 128, 128), QColor(200, 200, 200), QColor(128, 64, 0),
            QColor(0, 255, 128), QColor(255, 0, 128), QColor(64, 64, 255), QColor(128, 255, 0), QColor(255, 160, 160) };
        QList<Source> list;
        for (int i = 0; i < count; ++i)
            list.append({ i % 2 && format == TestReceiver::Uyvy ? TestReceiver::Bgra : format, palette[i],
                frame.width(), frame.height() });
        return list;
    }

    // Centre of NDC rectangle (left, top, right, bottom) in window fractions.
    static Probe centreOf(float left, float top, float right, float bottom, QColor color)
    {
        return { ((left + right) / 2 + 1) / 2, 1 - ((top + bottom) / 2 + 1) / 2, color };
    }

private Q_SLOTS:
    void init()
    {
        m_view.reset();
        m_mixer = nullptr;
    }

    void cleanup()
    {
        m_view.reset();
        m_inputs.clear();
    }

    void cellColours_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<Source>>("input");
        QTest::addColumn<int>("blankCells"); // grid cells at the end without a slot

        QTest::addRow("22 UYVY") << 22 << QSize(640, 360) << sources(4, TestReceiver::Uyvy) << 0;
        QTest::addRow("22 BGRA") << 22 << QSize(640, 360) << sources(4, TestReceiver::Bgra) << 0;
        QTest::addRow("33 UYVY and BGRA")
            << 33 << QSize(768, 432) << sources(9, TestReceiver::Uyvy, QSize(640, 360)) << 0;
        QTest::addRow("32 BGRA in 3:2 cells")
            << 32 << QSize(720, 320) << sources(6, TestReceiver::Bgra, QSize(1280, 720)) << 0;
        QTest::addRow("44 UYVY and BGRA")
            << 44 << QSize(800, 450) << sources(16, TestReceiver::Uyvy, QSize(480, 270)) << 0;
        QTest::addRow("242 UYVY and BGRA")
            << 242 << QSize(800, 450) << sources(10, TestReceiver::Uyvy, QSize(640, 360)) << 0;
        QTest::addRow("253 with an empty last cell")
            << 253 << QSize(800, 450) << sources(16, TestReceiver::Uyvy, QSize(480, 270)) << 1;
    }

    void cellColours()
    {
        QFETCH(int, code);
        QFETCH(QSize, size);
        QFETCH(QList<Source>, input);
        QFETCH(int, blankCells);

        const SettingsModel::GridShape shape = SettingsModel::gridShapeFor(code);
        const int columns = shape.width;
        const int rows = shape.height;
        const int extras = shape.extra;
        QVERIFY(makeScene(size, columns, rows, extras, input));
        if (!haveOpenGl4())
            QSKIP("No OpenGL 4 context on this machine");

        const CellLayout layout(columns, rows, extras);
        QList<Probe> probes;
        for (int i = 0; i < int(layout.quads().size()); ++i) {
            const CellLayout::Quad& q = layout.quads().at(size_t(i));
            const QColor expected = i < input.size()
                ? TestReceiver::displayedColor(input.at(i).color, input.at(i).format)
                : QColor(Qt::black);
            probes << centreOf(q.left(), q.top(), q.right(), q.bottom(), expected);
            // Near each corner the picture is there as well (the frames fit their cells exactly).
            const float insetX = (q.right() - q.left()) * 0.1f;
            const float insetY = (q.top() - q.bottom()) * 0.1f;
            probes << centreOf(q.left(), q.top(), q.left() + 2 * insetX, q.top() - 2 * insetY, expected);
            probes << centreOf(q.right() - 2 * insetX, q.bottom() + 2 * insetY, q.right(), q.bottom(), expected);
        }
        QCOMPARE(int(layout.quads().size()) - int(input.size()), blankCells);
        if (code == 253) {
            // Outside the two centred pictures at the top: left margin, gap, right margin.
            probes << Probe { 0.02, 0.2, Qt::black } << Probe { 0.5, 0.2, Qt::black } << Probe { 0.98, 0.2, Qt::black };
        }
        QTRY_COMPARE_WITH_TIMEOUT(grabMismatches(probes), QString(), 10000);
        QVERIFY(!m_mixer->cannotInitialize());
        QTRY_VERIFY(!m_mixer->gpuName().isEmpty());
        for (const auto& in : m_inputs)
            QVERIFY(in->receiver->videoFrameCalls() > 0);
    }

    void aspectBars_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<Source>("source");
        QTest::addColumn<QList<Probe>>("probes");

        // Grid 2 x 2: the top-left cell spans window fractions x 0..0.5, y 0..0.5.
        const QColor red = TestReceiver::displayedColor(Qt::red, TestReceiver::Uyvy);
        // 16:9 in 4:3 cells: the picture fills the width, bars take 1/8 of the height above and below.
        QTest::addRow("16:9 in 4:3 cells")
            << QSize(800, 600) << Source { TestReceiver::Uyvy, Qt::red, 1920, 1080 }
            << QList<Probe> { { 0.25, 0.02, Qt::black }, { 0.25, 0.48, Qt::black }, { 0.25, 0.25, red },
                   { 0.02, 0.25, red }, { 0.48, 0.25, red }, { 0.25, 0.08, red } };
        // 4:3 in 16:9 cells: bars take 1/8 of the width left and right.
        QTest::addRow("4:3 in 16:9 cells")
            << QSize(1024, 576) << Source { TestReceiver::Bgra, Qt::green, 1440, 1080 }
            << QList<Probe> { { 0.02, 0.25, Qt::black }, { 0.48, 0.25, Qt::black }, { 0.25, 0.25, Qt::green },
                   { 0.25, 0.02, Qt::green }, { 0.25, 0.48, Qt::green }, { 0.08, 0.25, Qt::green } };
        // The source's own aspect wins over its pixel count (anamorphic 1920 x 1080 shown as 4:3).
        QTest::addRow("anamorphic 4:3 in 16:9 cells")
            << QSize(1024, 576) << Source { TestReceiver::Uyvy, Qt::red, 1920, 1080, 4.0f / 3 }
            << QList<Probe> { { 0.02, 0.25, Qt::black }, { 0.48, 0.25, Qt::black }, { 0.25, 0.25, red } };
        QTest::addRow("equal aspects, no bars")
            << QSize(1024, 576) << Source { TestReceiver::Bgra, Qt::blue, 1920, 1080 }
            << QList<Probe> { { 0.01, 0.25, Qt::blue }, { 0.49, 0.25, Qt::blue }, { 0.25, 0.01, Qt::blue },
                   { 0.25, 0.49, Qt::blue } };
    }

    void aspectBars()
    {
        QFETCH(QSize, size);
        QFETCH(Source, source);
        QFETCH(QList<Probe>, probes);
        QVERIFY(makeScene(size, 2, 2, 0, { source }));
        if (!haveOpenGl4())
            QSKIP("No OpenGL 4 context on this machine");
        // The other three cells have no slot and stay black.
        probes << Probe { 0.75, 0.25, Qt::black } << Probe { 0.25, 0.75, Qt::black } << Probe { 0.75, 0.75, Qt::black };
        QTRY_COMPARE_WITH_TIMEOUT(grabMismatches(probes), QString(), 10000);
    }

    void disconnectedCellTurnsBlack()
    {
        QVERIFY(makeScene(QSize(640, 360), 2, 2, 0, sources(4, TestReceiver::Uyvy)));
        if (!haveOpenGl4())
            QSKIP("No OpenGL 4 context on this machine");
        const QList<Source> input = sources(4, TestReceiver::Uyvy);
        QList<Probe> probes;
        for (int i = 0; i < 4; ++i)
            probes << Probe { 0.25 + 0.5 * (i % 2), 0.25 + 0.5 * (i / 2),
                TestReceiver::displayedColor(input[i].color, input[i].format) };
        QTRY_COMPARE_WITH_TIMEOUT(grabMismatches(probes), QString(), 10000);

        // The statistics lag one frame behind the renderer; two upload frames after the one
        // that may already have been under way, the cell must be black.
        m_inputs[1]->disconnect();
        const quint64 uploadsAtDisconnect = m_mixer->statistics().paintCount;
        QTRY_VERIFY(m_mixer->statistics().paintCount >= uploadsAtDisconnect + 3);
        probes[1].color = Qt::black;
        QCOMPARE(grabMismatches(probes), QString());

        // Connected again, and with a new colour, the picture comes back.
        m_inputs[1]->receiver->setColor(Qt::magenta);
        m_inputs[1]->connect();
        probes[1].color = Qt::magenta;
        QTRY_COMPARE_WITH_TIMEOUT(grabMismatches(probes), QString(), 10000);
    }

    void drawsOnlyWhatChanged()
    {
        // One 1080p UYVY source in a 320 x 180 window, at 5 frames a second.
        QVERIFY(makeScene(QSize(320, 180), 1, 1, 0, { { TestReceiver::Uyvy, Qt::blue } }));
        if (!haveOpenGl4())
            QSKIP("No OpenGL 4 context on this machine");
        const QColor blue = TestReceiver::displayedColor(Qt::blue, TestReceiver::Uyvy);
        QTRY_COMPARE_WITH_TIMEOUT(grabMismatches({ { 0.5, 0.5, blue } }), QString(), 10000);

        // An unchanged picture is drawn again at the source's rate but not uploaded again.
        m_inputs[0]->receiver->setFrameRate(5.0);
        QTest::qWait(300);
        Mixer::Statistics before = m_mixer->statistics();
        QTest::qWait(2000);
        Mixer::Statistics after = m_mixer->statistics();
        QVERIFY2(after.paintCount - before.paintCount <= 12, qPrintable(QString::number(after.paintCount - before.paintCount)));
        QVERIFY(after.paintCount > before.paintCount);
        QCOMPARE(after.uploads, before.uploads);

        // A new picture is uploaded at the size the cell shows: 1920 / 6 x 1080 / 6 pairs of bytes.
        m_inputs[0]->receiver->setColor(Qt::yellow);
        QTRY_COMPARE(m_mixer->statistics().uploads, before.uploads + 1);
        QCOMPARE(m_mixer->statistics().uploadedBytes - after.uploadedBytes, quint64(320 * 180 * 2));
        QTRY_COMPARE(grabMismatches({ { 0.5, 0.5, TestReceiver::displayedColor(Qt::yellow, TestReceiver::Uyvy) } }),
            QString());

        // Nothing bound and nothing moving: once the empty cell is drawn, nothing more is.
        m_inputs[0]->disconnect();
        QTRY_COMPARE(grabMismatches({ { 0.5, 0.5, Qt::black } }), QString());
        QTest::qWait(300);
        before = m_mixer->statistics();
        QTest::qWait(1000);
        QCOMPARE(m_mixer->statistics().paintCount, before.paintCount);

        // Bound again without any change to the scene, it is drawn again.
        m_inputs[0]->connect();
        QTRY_COMPARE_WITH_TIMEOUT(
            grabMismatches({ { 0.5, 0.5, TestReceiver::displayedColor(Qt::yellow, TestReceiver::Uyvy) } }), QString(),
            5000);
    }

    void oversizedFrameIsSkipped()
    {
        // 4096 x 2160 BGRA fills a staging buffer exactly; one pixel more per row does not fit.
        QList<Source> input { { TestReceiver::Bgra, Qt::green, 4096, 2160 },
            { TestReceiver::Bgra, Qt::red, 4097, 2160 } };
        QVERIFY(makeScene(QSize(640, 360), 2, 1, 0, input));
        if (!haveOpenGl4())
            QSKIP("No OpenGL 4 context on this machine");
        const QList<Probe> probes { { 0.25, 0.5, Qt::green }, { 0.75, 0.5, Qt::black } };
        QTRY_COMPARE_WITH_TIMEOUT(grabMismatches(probes), QString(), 10000);
        QTRY_VERIFY(m_mixer->statistics().skippedFrames > 0);
        QVERIFY(m_inputs[1]->receiver->videoFrameCalls() > 0);
    }

    void slotsShowTheirSources()
    {
        // Slots bound to sources of the simulated network, drawn from the full slot list: a UYVY
        // picture of 16:9 and a BGRA picture of 4:3 (side bars in 16:9 cells), two empty cells.
        NdiSim::write(QJsonArray {
            NdiSim::source(QStringLiteral("Red"),
                NdiSim::video(1920, 1080, QStringLiteral("UYVY"), QStringLiteral("solid"), QStringLiteral("#ff0000")),
                QJsonValue()),
            NdiSim::source(QStringLiteral("Green"),
                NdiSim::video(640, 480, QStringLiteral("BGRA"), QStringLiteral("solid"), QStringLiteral("#00ff00")),
                QJsonValue()) });
        SlotListModel slotList;
        for (int i = 0; i < 4; ++i) {
            auto* slot = new Slot;
            slot->setViewingOnly(true); // no recording program for these
            slotList.append(slot);
        }
        QCOMPARE(slotList.allSlots().at(0)->connectSource(QStringLiteral("Red")), QStringLiteral("success"));
        QCOMPARE(slotList.allSlots().at(1)->connectSource(QStringLiteral("Green")), QStringLiteral("success"));

        QVERIFY(makeScene(QSize(640, 360), 2, 2, 0, {}, &slotList));
        if (!haveOpenGl4())
            QSKIP("No OpenGL 4 context on this machine");
        QList<Probe> probes { { 0.25, 0.25, TestReceiver::displayedColor(Qt::red, TestReceiver::Uyvy) },
            { 0.75, 0.25, Qt::green }, { 0.52, 0.25, Qt::black }, { 0.98, 0.25, Qt::black }, { 0.25, 0.75, Qt::black },
            { 0.75, 0.75, Qt::black } };
        QTRY_COMPARE_WITH_TIMEOUT(grabMismatches(probes), QString(), 10000);

        // Unbound, the slot's cell goes black; the other keeps its picture.
        QCOMPARE(slotList.allSlots().at(0)->disconnectSource(), QStringLiteral("success"));
        const quint64 uploads = m_mixer->statistics().paintCount;
        QTRY_VERIFY(m_mixer->statistics().paintCount >= uploads + 3);
        probes[0].color = Qt::black;
        QCOMPARE(grabMismatches(probes), QString());
        m_view.reset(); // the window goes before the slots it draws
    }

    void rendererGoesWithTheSceneGraph()
    {
        QVERIFY(makeScene(QSize(320, 180), 1, 1, 0, { { TestReceiver::Uyvy, Qt::blue } }));
        if (!haveOpenGl4())
            QSKIP("No OpenGL 4 context on this machine");
        const QColor blue = TestReceiver::displayedColor(Qt::blue, TestReceiver::Uyvy);
        QTRY_COMPARE_WITH_TIMEOUT(grabMismatches({ { 0.5, 0.5, blue } }), QString(), 10000);
        QCOMPARE(MixerRenderer::liveRenderers(), 1);

        // Without a persistent scene graph, hiding the window invalidates it: the renderer and
        // its GL objects go on the render thread, and a new one starts when the window returns.
        m_view->setPersistentGraphics(false);
        m_view->setPersistentSceneGraph(false);
        m_view->hide();
        QTRY_COMPARE(MixerRenderer::liveRenderers(), 0);
        m_inputs[0]->receiver->setColor(Qt::yellow);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        QTRY_COMPARE_WITH_TIMEOUT(
            grabMismatches({ { 0.5, 0.5, TestReceiver::displayedColor(Qt::yellow, TestReceiver::Uyvy) } }), QString(),
            10000);
        QTRY_COMPARE(MixerRenderer::liveRenderers(), 1);

        // Deleting the item while the window renders hands the renderer to a render job.
        delete m_mixer;
        m_mixer = nullptr;
        m_view->update();
        QTRY_COMPARE(MixerRenderer::liveRenderers(), 0);
    }
};

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
    QSurfaceFormat format;
    format.setVersion(4, 0);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QSurfaceFormat::setDefaultFormat(format);
    if (!TestEnv::hasDisplay()) {
        // No display at all: nothing here can run.
        qInfo("SKIP: no X display for the preview tests");
        return 0;
    }
    NdiSim::use();
    QGuiApplication app(argc, argv);
    qmlRegisterType<Mixer>("StavelinRecorder", 1, 0, "Mixer");
    qRegisterMetaType<Source>();
    TestMixer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mixer.moc"
