#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QTimer>
#include <QValidator>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <memory>

class QThreadPool;

// Accepts an existing, writable folder; any other text is Intermediate, so it can still be typed.
// problem() says in words what keeps a text from being accepted, for the field to show.
// The folder is looked at on threads of the validator's own, never on the caller's (a network
// share may hang): a text answers from its last look, "Checking the folder…" before the first and
// "Drive not answering: <path>" while a look is out longer than the time-out. An answer older than
// the time-out is looked at again when asked for, and shown meanwhile. Whenever what a text shows
// changes, changed() and answersChanged() are emitted. Main thread API.
class DirectoryValidator : public QValidator
{
    Q_OBJECT
    QML_ELEMENT
    // Bindings that call problem() read this too, so that they are evaluated again on each answer.
    Q_PROPERTY(int answers READ answers NOTIFY answersChanged)
public:
    static constexpr int timeoutMs = 2000;
    using Look = std::function<QString(const QString& folder)>;

    explicit DirectoryValidator(QObject* parent = nullptr);
    // Does not wait for a look still out: the pool is ended, on the main thread, by its last look.
    ~DirectoryValidator() override;

    State validate(QString& input, int& position) const override;
    // Empty when the folder is acceptable.
    Q_INVOKABLE QString problem(const QString& input) const;
    int answers() const { return m_answers; }

    // The file system's answer, on the calling thread: the problem, empty when acceptable.
    static QString lookAt(const QString& folder);
    // Replaces lookAt for the validators' looks from now on; an empty one restores it. Tests only,
    // on the main thread.
    static void setLook(Look look);

Q_SIGNALS:
    void answersChanged();
    // From a look's thread, queued to answered().
    void looked(const QString& input, const QString& answer, QPrivateSignal);

private:
    struct Entry {
        QString answer;
        bool answered = false;
        bool out = false; // a look is on its way
        bool late = false; // out past the time-out, and told
        QElapsedTimer asked;
        QElapsedTimer answeredAt;
    };
    struct Shared;

    void ask(const QString& input, Entry& entry) const;
    static QString shown(const QString& input, const Entry& entry);
    void answered(const QString& input, const QString& answer);
    void checkLate();
    void tell();

    std::shared_ptr<Shared> m_shared;
    // Owned; handed to the last look out when the validator goes before its looks return.
    std::unique_ptr<QThreadPool> m_pool;
    // What is known of each text: filled in by problem(), which QValidator's API makes const.
    mutable QHash<QString, Entry> m_entries;
    mutable int m_out = 0;
    mutable QTimer m_watch;
    int m_answers = 0;
};
