#include "app/directoryvalidator.h"

#include "app/threadhandover.h"

#include <QDir>
#include <QFileInfo>
#include <QThreadPool>

#include <mutex>
#include <utility>

namespace
{

DirectoryValidator::Look g_look; // main thread only; empty: the file system's answer
// Marks the hand-over of a look's answer back. Not a member of what is handed over: the receiver
// would read that before the mark. The answer goes back as a queued signal's arguments, which Qt
// copies itself; a posted functor would be written after the mark.
const char g_handover = 0;

} // namespace

struct DirectoryValidator::Shared {
    std::mutex mutex;
    DirectoryValidator* validator = nullptr; // guarded by mutex; null once the validator is going
    int out = 0; // guarded by mutex: looks started and not yet returned
    QThreadPool* leftPool = nullptr; // guarded by mutex: a gone validator's, for its last look to end
};

DirectoryValidator::DirectoryValidator(QObject* parent)
    : QValidator(parent)
    , m_shared(std::make_shared<Shared>())
    , m_pool(std::make_unique<QThreadPool>(this))
{
    m_shared->validator = this;
    // A hung share holds a thread per text typed into it; the other folders still need theirs.
    m_pool->setMaxThreadCount(64);
    m_watch.setInterval(timeoutMs / 8);
    connect(&m_watch, &QTimer::timeout, this, &DirectoryValidator::checkLate);
    connect(this, &DirectoryValidator::looked, this, &DirectoryValidator::answered, Qt::QueuedConnection);
}

DirectoryValidator::~DirectoryValidator()
{
    // Not this object's child from here on: QObject would end it with its children, waiting.
    m_pool->setParent(nullptr);
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->validator = nullptr;
    if (m_shared->out > 0)
        m_shared->leftPool = m_pool.release();
}

QValidator::State DirectoryValidator::validate(QString& input, int& position) const
{
    Q_UNUSED(position)
    return problem(input).isEmpty() ? Acceptable : Intermediate;
}

QString DirectoryValidator::problem(const QString& input) const
{
    if (input.isEmpty())
        return QStringLiteral("No folder: choose one");
    Entry& entry = m_entries[input];
    if (!entry.out && (!entry.answered || entry.answeredAt.hasExpired(timeoutMs)))
        ask(input, entry);
    return shown(input, entry);
}

QString DirectoryValidator::lookAt(const QString& folder)
{
    const QFileInfo info(folder);
    if (!info.exists())
        return QStringLiteral("Folder does not exist: create it or choose another");
    if (!info.isDir())
        return QStringLiteral("Not a folder but a file: choose a folder");
    if (!info.isWritable())
        return QStringLiteral("Folder cannot be written to: choose another");
    return {};
}

void DirectoryValidator::setLook(Look look)
{
    g_look = std::move(look);
}

void DirectoryValidator::ask(const QString& input, Entry& entry) const
{
    entry.out = true;
    entry.late = false;
    entry.asked.start();
    if (m_out++ == 0)
        m_watch.start();
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        ++m_shared->out;
    }
    ThreadHandover::start(*m_pool, [shared = m_shared, input, look = g_look ? g_look : Look(&lookAt)] {
        bool wanted = false;
        {
            const std::lock_guard<std::mutex> lock(shared->mutex);
            wanted = shared->validator != nullptr;
        }
        const QString answer = wanted ? look(input) : QString();
        const std::lock_guard<std::mutex> lock(shared->mutex);
        --shared->out;
        if (DirectoryValidator* validator = shared->validator) {
            // The lock keeps the validator from going while it is told.
            ThreadHandover::publish(&g_handover);
            emit validator->looked(input, answer, QPrivateSignal());
        } else if (shared->out == 0 && shared->leftPool) {
            // Ended on the main thread, where its destructor waits for this thread to leave the
            // task, which it is about to do.
            std::exchange(shared->leftPool, nullptr)->deleteLater();
        }
    });
}

QString DirectoryValidator::shown(const QString& input, const Entry& entry)
{
    if (entry.out && entry.asked.hasExpired(timeoutMs))
        return QStringLiteral("Drive not answering: ") + QDir::toNativeSeparators(input);
    if (entry.answered)
        return entry.answer;
    return QStringLiteral("Checking the folder…");
}

void DirectoryValidator::answered(const QString& input, const QString& answer)
{
    ThreadHandover::receive(&g_handover);
    if (--m_out == 0)
        m_watch.stop();
    Entry& entry = m_entries[input];
    const QString before = shown(input, entry);
    entry.out = false;
    entry.answered = true;
    entry.answer = answer;
    entry.answeredAt.start();
    if (shown(input, entry) != before)
        tell();
}

void DirectoryValidator::checkLate()
{
    bool late = false;
    for (Entry& entry : m_entries) {
        if (entry.out && !entry.late && entry.asked.hasExpired(timeoutMs))
            late = entry.late = true;
    }
    if (late)
        tell();
}

void DirectoryValidator::tell()
{
    ++m_answers;
    emit answersChanged();
    emit changed();
}
