#include "app/settingsmodel.h"
#include "render/mixer.h"
#include "tests/common/logcapture.h"
#include "tests/common/testenv.h"
#include "tests/common/testreceiver.h"
#include <QGuiApplication>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QSurfaceFormat>
#include <QTest>

using F = TestReceiver::Format;
struct Source {
    F format;
    QColor color;
    int width = 1920, height = 1080;
    float aspect = 0.0f;
};
using Probe = std::tuple<double, double, int>; // in window fractions; the source seen there (-1: black)
static bool noGl = false; // the second run: Qt's software scene graph, no OpenGL at all

// The preview under an empty white window, so anything left undrawn shows.
class TestMixer : public QObject
{
    Q_OBJECT
    std::unique_ptr<QQuickWindow> m_view;
    Mixer* m_mixer = nullptr;
    std::vector<std::shared_ptr<TestReceiver>> m_in;
    std::vector<std::shared_ptr<std::shared_ptr<Receiver>>> m_plugs; // swapped while the render thread pulls
    QList<QColor> m_colours;

    void show(QSize size, SettingsModel::GridShape shape, const QList<Source>& sources)
    {
        m_in.clear(), m_plugs.clear(), m_colours.clear();
        (m_view = std::make_unique<QQuickWindow>())->setColor(Qt::white);
        (m_mixer = new Mixer)->setParent(m_view->contentItem());
        m_mixer->setParentItem(m_view->contentItem());
        m_mixer->setGridShape(shape.width, shape.height, shape.extra);
        std::vector<MixerRenderer::ReceiverSource> list;
        for (const Source& s : sources) {
            m_in.push_back(std::make_shared<TestReceiver>(s.width, s.height, s.format, s.color, s.aspect));
            m_colours << TestReceiver::displayedColor(s.color, s.format);
            m_plugs.push_back(std::make_shared<std::shared_ptr<Receiver>>(m_in.back()));
            list.push_back([p = m_plugs.back()] { return std::atomic_load(p.get()); });
        }
        m_mixer->setReceiverSources(std::move(list));
        m_view->setGeometry(QRect(QPoint(0, 0), size));
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }
    void plug(bool in) { std::atomic_store(m_plugs[0].get(), in ? std::shared_ptr<Receiver>(m_in[0]) : nullptr); }
    void recolour(QColor c) { m_in[0]->setColor(c), m_colours[0] = TestReceiver::displayedColor(c, F::Uyvy); }
    QString wrong(const QList<Probe>& probes)
    {
        const QImage img = m_view->grabWindow();
        QString out;
        for (auto [x, y, source] : probes) {
            const QPoint at(int(x * img.width()), int(y * img.height()));
            const QColor want = source < 0 ? QColor(Qt::black) : m_colours.at(source), got = img.pixelColor(at);
            const int r = got.red() - want.red(), g = got.green() - want.green(), b = got.blue() - want.blue();
            out += std::max({ r, -r, g, -g, b, -b }) > 8
                ? QStringLiteral("(%1,%2) %3 ").arg(at.x()).arg(at.y()).arg(got.name())
                : QString();
        }
        return out;
    }
    bool shows(int source, int ms = 10000)
    {
        return QTest::qWaitFor([&] { return wrong({ { 0.5, 0.5, source } }).isEmpty(); }, ms);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (LogCapture::install(), noGl)
            return;
        show(QSize(64, 36), { 1, 1, 0 }, { { F::Bgra, Qt::red } });
        QTRY_VERIFY_WITH_TIMEOUT(m_mixer->statistics().paintCount > 0 || m_mixer->cannotInitialize(), 10000);
        if (m_mixer->cannotInitialize())
            QSKIP("No OpenGL 4 context on this machine");
    }
    void cleanup() { m_view.reset(); }

    // Every cell's centre shows its source (black without one), and so do the row's probes.
    void pixels()
    {
        QList<Source> mixed; // UYVY and BGRA by turns, each of its own colour
        for (int i = 0; i < 16; ++i)
            mixed.append({ i % 2 ? F::Bgra : F::Uyvy, QColor::fromHsv(i * 22, 255, 255 - i % 3 * 80), 480, 270 });
        const QList<std::tuple<int, QSize, QList<Source>, QList<Probe>>> rows {
            { 253, { 800, 450 }, mixed.mid(0, 15), { { 0.02, 0.2, -1 }, { 0.5, 0.2, -1 }, { 0.98, 0.2, -1 } } },
            { 22, { 800, 600 }, { { F::Uyvy, Qt::red } }, // 16:9 in 4:3: bars above and below
                { { 0.25, 0.02, -1 }, { 0.25, 0.48, -1 }, { 0.02, 0.25, 0 }, { 0.48, 0.25, 0 }, { 0.25, 0.08, 0 } } },
            { 22, { 1024, 576 }, { { F::Uyvy, Qt::red, 1920, 1080, 4.0f / 3 } }, // anamorphic 4:3: bars beside
                { { 0.02, 0.25, -1 }, { 0.48, 0.25, -1 }, { 0.25, 0.02, 0 }, { 0.25, 0.48, 0 }, { 0.08, 0.25, 0 } } },
            { 22, { 1024, 576 }, { { F::Bgra, Qt::blue } }, // equal aspects fill the cell
                { { 0.01, 0.25, 0 }, { 0.49, 0.25, 0 }, { 0.25, 0.01, 0 }, { 0.25, 0.49, 0 } } },
            // 4096 x 2160 BGRA fills a staging buffer exactly; one pixel more per row does not fit.
            { 21, { 640, 360 }, { { F::Bgra, Qt::green, 4096, 2160 }, { F::Bgra, Qt::black, 4097, 2160 } }, {} }
        };
        for (auto [code, size, sources, probes] : rows) {
            const SettingsModel::GridShape shape = SettingsModel::gridShapeFor(code);
            show(size, shape, sources);
            const CellLayout layout(shape.width, shape.height, shape.extra);
            for (int i = 0; i < int(layout.quads().size()); ++i) {
                const CellLayout::Quad& q = layout.quads()[size_t(i)];
                probes << Probe(
                    (q.left() + q.right() + 2) / 4, (2 - q.top() - q.bottom()) / 4, i < sources.size() ? i : -1);
            }
            QTRY_COMPARE_WITH_TIMEOUT(QString::number(code) + wrong(probes), QString::number(code), 10000);
        }
        QVERIFY(m_mixer->statistics().skippedFrames > 0 && m_in[1]->videoFrameCalls() > 0);
    }

    void drawsOnlyWhatChanged()
    {
        show(QSize(320, 180), { 1, 1, 0 }, { { F::Uyvy, Qt::blue } });
        QVERIFY(shows(0));
        // An unchanged picture is drawn again at the source's rate (5 a second) but not uploaded again.
        m_in[0]->setFrameRate(5.0);
        QTest::qWait(300);
        Mixer::Statistics before = m_mixer->statistics(), after = (QTest::qWait(2000), m_mixer->statistics());
        QVERIFY(after.paintCount > before.paintCount && after.paintCount - before.paintCount <= 12);
        QCOMPARE(after.uploads, before.uploads);
        // A new picture is uploaded at the size the cell shows: 1920 / 6 x 1080 / 6 pairs of bytes.
        recolour(Qt::yellow);
        QTRY_COMPARE(m_mixer->statistics().uploads, before.uploads + 1);
        QCOMPARE(m_mixer->statistics().uploadedBytes - after.uploadedBytes, quint64(320 * 180 * 2));
        QVERIFY(shows(0));
        // Nothing bound and nothing moving: once the empty cell is drawn, nothing more is.
        plug(false);
        QVERIFY(shows(-1));
        // Settled (under load the last paint may come late), it stays still for a whole second.
        QVERIFY(QTest::qWaitFor(
            [&] {
                const auto paints = m_mixer->statistics().paintCount;
                QTest::qWait(1000);
                return m_mixer->statistics().paintCount == paints;
            },
            8000));
        plug(true); // bound again without any change to the scene, it is drawn again
        QVERIFY(shows(0, 5000));
        // Hidden without a persistent scene graph, the renderer goes; shown again, a new one draws.
        QCOMPARE(MixerRenderer::liveRenderers(), 1);
        m_view->setPersistentGraphics(false), m_view->setPersistentSceneGraph(false), m_view->hide();
        QTRY_COMPARE(MixerRenderer::liveRenderers(), 0);
        recolour(Qt::red);
        m_view->show();
        QVERIFY(shows(0));
        delete m_mixer; // while the window renders: a render job takes the renderer
        m_view->update();
        QTRY_COMPARE(MixerRenderer::liveRenderers(), 0);
    }

    // Without OpenGL nothing is drawn or pulled; the reason is logged and raised once.
    void reportsMissingOpenGl()
    {
        if (!noGl)
            QSKIP("run by tst_mixernogl");
        show(QSize(320, 180), { 1, 1, 0 }, { { F::Uyvy, Qt::red } });
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
    argc -= (noGl = argc > 1 && qstrcmp(argv[argc - 1], "nogl") == 0) ? 1 : 0;
    qputenv("QT_QPA_PLATFORM", "xcb");
    QQuickWindow::setGraphicsApi(noGl ? QSGRendererInterface::Software : QSGRendererInterface::OpenGL);
    QSurfaceFormat format;
    format.setVersion(4, 0), format.setProfile(QSurfaceFormat::CoreProfile);
    QSurfaceFormat::setDefaultFormat(format);
    if (!TestEnv::hasDisplay())
        return qInfo("SKIP: no X display for the preview tests"), 0;
    QGuiApplication app(argc, argv);
    TestMixer test;
    const QStringList all = app.arguments();
    return QTest::qExec(&test, noGl ? QStringList { all.first(), QStringLiteral("reportsMissingOpenGl") } : all);
}

#include "tst_mixer.moc"
