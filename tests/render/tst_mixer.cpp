#include "app/settingsmodel.h"
#include "render/mixer.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "tests/common/logcapture.h"
#include "tests/common/simnetwork.h"
#include "tests/common/testreceiver.h"
#include <QGuiApplication>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QSurfaceFormat>
#include <QTest>

using Format = TestReceiver::Format;
struct Source {
    Format format;
    QColor color;
    int width = 1920, height = 1080;
    float aspect = 0.0f;
};
struct Probe {
    double x, y;
    int source;
}; // a point in window fractions, the source seen there (-1: black)
static bool noGl = false; // the second run: Qt's software scene graph, no OpenGL at all

// The preview under an empty window (white, so anything left undrawn shows): what the grab shows
// comes from the renderer.
class TestMixer : public QObject
{
    Q_OBJECT
    std::unique_ptr<QQuickWindow> m_view;
    Mixer* m_mixer = nullptr;
    std::vector<std::shared_ptr<TestReceiver>> m_in;
    std::vector<std::shared_ptr<std::shared_ptr<Receiver>>>
        m_published; // plugged in and out while the render thread pulls
    QList<QColor> m_colours; // what each source shows

    void show(
        QSize size, SettingsModel::GridShape shape, const QList<Source>& sources, SlotListModel* slotList = nullptr)
    {
        (m_view = std::make_unique<QQuickWindow>())->setColor(Qt::white);
        (m_mixer = new Mixer)->setParent(m_view->contentItem());
        m_mixer->setParentItem(m_view->contentItem());
        m_mixer->setGridShape(shape.width, shape.height, shape.extra);
        std::vector<MixerRenderer::ReceiverSource> list;
        for (const Source& s : sources) {
            m_in.push_back(std::make_shared<TestReceiver>(s.width, s.height, s.format, s.color, s.aspect));
            m_colours << TestReceiver::displayedColor(s.color, s.format);
            m_published.push_back(std::make_shared<std::shared_ptr<Receiver>>(m_in.back()));
            list.push_back([p = m_published.back()] { return std::atomic_load(p.get()); });
        }
        slotList ? m_mixer->setSlotList(slotList) : m_mixer->setReceiverSources(std::move(list));
        m_view->setGeometry(QRect(QPoint(0, 0), size));
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        QVERIFY(noGl
            || QTest::qWaitFor(
                [this] { return m_mixer->statistics().paintCount > 0 || m_mixer->cannotInitialize(); }, 10000));
    }
    void plug(int i, bool in)
    {
        std::atomic_store(m_published[size_t(i)].get(), in ? std::shared_ptr<Receiver>(m_in[size_t(i)]) : nullptr);
    }
    void recolour(int i, QColor c)
    {
        m_in[size_t(i)]->setColor(c), m_colours[i] = TestReceiver::displayedColor(c, Format::Uyvy);
    }
    QString wrong(const QList<Probe>& probes)
    {
        const QImage image = m_view->grabWindow();
        QStringList out;
        for (const Probe& p : probes) {
            const QPoint at(std::min(image.width() - 1, int(p.x * image.width())),
                std::min(image.height() - 1, int(p.y * image.height())));
            const QColor want = p.source < 0 ? QColor(Qt::black) : m_colours.at(p.source), got = image.pixelColor(at);
            if (std::abs(got.red() - want.red()) > 8 || std::abs(got.green() - want.green()) > 8
                || std::abs(got.blue() - want.blue()) > 8)
                out << QStringLiteral("(%1,%2) is %3 not %4").arg(at.x()).arg(at.y()).arg(got.name(), want.name());
        }
        return out.join(QStringLiteral("; "));
    }
    static QList<Source> mixed(int count, QSize frame) // UYVY and BGRA by turns, each of its own colour
    {
        QList<Source> list;
        for (int i = 0; i < count; ++i)
            list.append({ i % 2 ? TestReceiver::Bgra : TestReceiver::Uyvy,
                QColor::fromHsv(i * 22, 255, 255 - i % 3 * 80), frame.width(), frame.height() });
        return list;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (LogCapture::install(), noGl)
            return;
        show(QSize(64, 36), { 1, 1, 0 }, { { TestReceiver::Bgra, Qt::red } });
        if (m_mixer->cannotInitialize())
            QSKIP("No OpenGL 4 context on this machine");
    }
    void init() { m_in.clear(), m_published.clear(), m_colours.clear(); }
    void cleanup() { m_view.reset(); }

    // Every cell's centre shows its source (black without one), and the probes of the row hold.
    void pixels()
    {
        const Source red { TestReceiver::Uyvy, Qt::red };
        const QList<std::tuple<const char*, int, QSize, QList<Source>, QList<Probe>>> rows {
            { "3x3 UYVY and BGRA", 33, { 768, 432 }, mixed(9, { 640, 360 }), {} },
            { "2+8", 242, { 800, 450 }, mixed(10, { 640, 360 }), {} },
            { "2+14: margins, an empty cell", 253, { 800, 450 }, mixed(16, { 480, 270 }),
                { { 0.02, 0.2, -1 }, { 0.5, 0.2, -1 }, { 0.98, 0.2, -1 } } },
            { "16:9 in 4:3: bars above and below", 22, { 800, 600 }, { red },
                { { 0.25, 0.02, -1 }, { 0.25, 0.48, -1 }, { 0.02, 0.25, 0 }, { 0.48, 0.25, 0 }, { 0.25, 0.08, 0 } } },
            { "anamorphic 4:3 in 16:9: bars beside", 22, { 1024, 576 },
                { { TestReceiver::Uyvy, Qt::red, 1920, 1080, 4.0f / 3 } },
                { { 0.02, 0.25, -1 }, { 0.48, 0.25, -1 }, { 0.25, 0.02, 0 }, { 0.25, 0.48, 0 }, { 0.08, 0.25, 0 } } },
            { "equal aspects fill the cell", 22, { 1024, 576 }, { { TestReceiver::Bgra, Qt::blue } },
                { { 0.01, 0.25, 0 }, { 0.49, 0.25, 0 }, { 0.25, 0.01, 0 }, { 0.25, 0.49, 0 } } }
        };
        for (auto [tag, code, size, sources, probes] : rows) {
            init();
            const SettingsModel::GridShape shape = SettingsModel::gridShapeFor(code);
            show(size, shape, sources);
            const CellLayout layout(shape.width, shape.height, shape.extra);
            for (int i = 0; i < int(layout.quads().size()); ++i) {
                const CellLayout::Quad& q = layout.quads()[size_t(i)];
                probes << Probe { (q.left() + q.right() + 2) / 4, (2 - q.top() - q.bottom()) / 4,
                    i < sources.size() ? i : -1 };
            }
            QTRY_COMPARE_WITH_TIMEOUT(tag + QStringLiteral(": ") + wrong(probes), tag + QStringLiteral(": "), 10000);
        }
        QTRY_VERIFY(!m_mixer->gpuName().isEmpty());
    }

    // Slots bound to the simulated network: UYVY 16:9, and BGRA 4:3 with bars beside it. Unbound, a cell turns black.
    void slotsShowTheirSources()
    {
        NdiSim::write(
            { NdiSim::source(QStringLiteral("Red"),
                  NdiSim::video(1920, 1080, QStringLiteral("UYVY"), QStringLiteral("solid"), QStringLiteral("#ff0000")),
                  {}),
                NdiSim::source(QStringLiteral("Green"),
                    NdiSim::video(640, 480, QStringLiteral("BGRA"), QStringLiteral("solid"), QStringLiteral("#00ff00")),
                    {}) });
        SlotListModel list;
        for (int i = 0; i < 4; ++i)
            list.append(new Slot), list.allSlots().at(i)->setViewingOnly(true); // no recording program for these
        QCOMPARE(list.allSlots().at(0)->connectSource(QStringLiteral("Red")), QStringLiteral("success"));
        QCOMPARE(list.allSlots().at(1)->connectSource(QStringLiteral("Green")), QStringLiteral("success"));
        show(QSize(640, 360), { 2, 2, 0 }, {}, &list);
        m_colours = { TestReceiver::displayedColor(Qt::red, TestReceiver::Uyvy), Qt::green };
        QList<Probe> probes { { 0.25, 0.25, 0 }, { 0.75, 0.25, 1 }, { 0.52, 0.25, -1 }, { 0.98, 0.25, -1 },
            { 0.25, 0.75, -1 }, { 0.75, 0.75, -1 } };
        QTRY_COMPARE_WITH_TIMEOUT(wrong(probes), QString(), 10000);
        QCOMPARE(list.allSlots().at(0)->disconnectSource(), QStringLiteral("success"));
        probes[0].source = -1;
        QTRY_COMPARE_WITH_TIMEOUT(wrong(probes), QString(), 10000);
        m_view.reset(); // the window goes before the slots it draws
    }

    void drawsOnlyWhatChanged()
    {
        show(QSize(320, 180), { 1, 1, 0 }, { { TestReceiver::Uyvy, Qt::blue } });
        QTRY_COMPARE_WITH_TIMEOUT(wrong({ { 0.5, 0.5, 0 } }), QString(), 10000);
        // An unchanged picture is drawn again at the source's rate (5 a second) but not uploaded again.
        m_in[0]->setFrameRate(5.0);
        QTest::qWait(300);
        Mixer::Statistics before = m_mixer->statistics(), after = (QTest::qWait(2000), m_mixer->statistics());
        QVERIFY2(after.paintCount > before.paintCount && after.paintCount - before.paintCount <= 12,
            qPrintable(QString::number(after.paintCount - before.paintCount)));
        QCOMPARE(after.uploads, before.uploads);
        // A new picture is uploaded at the size the cell shows: 1920 / 6 x 1080 / 6 pairs of bytes.
        recolour(0, Qt::yellow);
        QTRY_COMPARE(m_mixer->statistics().uploads, before.uploads + 1);
        QCOMPARE(m_mixer->statistics().uploadedBytes - after.uploadedBytes, quint64(320 * 180 * 2));
        QTRY_COMPARE(wrong({ { 0.5, 0.5, 0 } }), QString());
        // Nothing bound and nothing moving: once the empty cell is drawn, nothing more is.
        plug(0, false);
        QTRY_COMPARE(wrong({ { 0.5, 0.5, -1 } }), QString());
        QTest::qWait(300);
        before = m_mixer->statistics();
        QTest::qWait(1000);
        QCOMPARE(m_mixer->statistics().paintCount, before.paintCount);
        plug(0, true); // bound again without any change to the scene, it is drawn again
        QTRY_COMPARE_WITH_TIMEOUT(wrong({ { 0.5, 0.5, 0 } }), QString(), 5000);
    }

    void oversizedFrameIsSkipped()
    {
        // 4096 x 2160 BGRA fills a staging buffer exactly; one pixel more per row does not fit.
        show(QSize(640, 360), { 2, 1, 0 },
            { { TestReceiver::Bgra, Qt::green, 4096, 2160 }, { TestReceiver::Bgra, Qt::red, 4097, 2160 } });
        QTRY_COMPARE_WITH_TIMEOUT(wrong({ { 0.25, 0.5, 0 }, { 0.75, 0.5, -1 } }), QString(), 10000);
        QVERIFY(m_mixer->statistics().skippedFrames > 0 && m_in[1]->videoFrameCalls() > 0);
    }

    // Hiding a window without a persistent scene graph frees the renderer; showing it makes a new one.
    void rendererGoesWithTheSceneGraph()
    {
        show(QSize(320, 180), { 1, 1, 0 }, { { TestReceiver::Uyvy, Qt::blue } });
        QTRY_COMPARE(MixerRenderer::liveRenderers(), 1);
        m_view->setPersistentGraphics(false), m_view->setPersistentSceneGraph(false), m_view->hide();
        QTRY_COMPARE(MixerRenderer::liveRenderers(), 0);
        recolour(0, Qt::yellow);
        m_view->show();
        QTRY_COMPARE_WITH_TIMEOUT(wrong({ { 0.5, 0.5, 0 } }), QString(), 10000);
        delete m_mixer; // while the window renders: a render job takes the renderer
        m_view->update();
        QTRY_COMPARE(MixerRenderer::liveRenderers(), 0);
    }

    // Without OpenGL nothing is drawn or pulled; the reason is logged and raised once.
    void reportsMissingOpenGl()
    {
        if (!noGl)
            QSKIP("run by tst_mixernogl");
        show(QSize(320, 180), { 1, 1, 0 }, { { TestReceiver::Uyvy, Qt::red } });
        QTRY_VERIFY(m_mixer->cannotInitialize());
        QSignalSpy frames(m_view.get(), &QQuickWindow::frameSwapped);
        m_view->update(); // further frames try again, quietly
        QTRY_VERIFY(frames.count() >= 3);
        QCOMPARE(LogCapture::take().filter(QStringLiteral("Cannot initialize OpenGL")).size(), 1);
        QVERIFY(
            m_mixer->gpuName().isEmpty() && m_mixer->statistics().paintCount == 0 && m_in[0]->videoFrameCalls() == 0);
    }
};

int main(int argc, char* argv[])
{
    noGl = argc > 1 && qstrcmp(argv[argc - 1], "nogl") == 0;
    argc -= noGl ? 1 : 0;
    qputenv("QT_QPA_PLATFORM", "xcb");
    QQuickWindow::setGraphicsApi(noGl ? QSGRendererInterface::Software : QSGRendererInterface::OpenGL);
    QSurfaceFormat format;
    format.setVersion(4, 0);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QSurfaceFormat::setDefaultFormat(format);
    if (!TestEnv::hasDisplay())
        return qInfo("SKIP: no X display for the preview tests"), 0;
    NdiSim::use();
    QGuiApplication app(argc, argv);
    TestMixer test;
    return QTest::qExec(&test,
        noGl ? QStringList { app.arguments().first(), QStringLiteral("reportsMissingOpenGl") } : app.arguments());
}

#include "tst_mixer.moc"
