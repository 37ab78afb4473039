// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/journal.h"

#include "journal/journal_store.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <utility>

QString journalPath()
{
#ifdef Q_OS_WIN
    // %LOCALAPPDATA%: a journal is this computer's, and may grow beyond what should roam.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/painel-sinaletico/registo.sqlite");
#else
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG asks that a relative path there be ignored.
    if (state.isEmpty() || QDir::isRelativePath(state)) state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/painel-sinaletico/registo.sqlite");
#endif
}

QString centralJournalPath() { return QFileInfo(journalPath()).absolutePath() + QStringLiteral("/registo-central.sqlite"); }

Journal::Journal(QString fileName, std::function<void()> whenMet, Start start, QObject* parent)
    : QObject(parent), fileName_(std::move(fileName)), whenMet_(std::move(whenMet))
{
    thread_.setObjectName(QStringLiteral("registo"));
    context_ = new QObject;
    store_ = new JournalStore(fileName_, *this, *context_);
    // What is queued to the writer before its thread runs waits for it.
    context_->moveToThread(&thread_);
    if (start == Start::Now) this->start();
}

void Journal::start()
{
    if (!thread_.isRunning()) thread_.start(QThread::LowPriority);
}

Journal::~Journal()
{
    start();
    // What was recorded is written before the program ends.
    QMetaObject::invokeMethod(
        context_,
        [this, w = store_, c = context_] {
            // From here an entry (a note the last write makes) waits for the store's last
            // writes rather than asking a store that is going for a write of its own.
            {
                const std::lock_guard lock(mutex_);
                closing_ = true;
            }
            delete w;
            c->deleteLater();
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void Journal::record(JournalEntry entry)
{
    {
        const std::lock_guard lock(mutex_);
        queued_.push_back(std::move(entry));
        if (std::exchange(gathering_, true) || closing_) return;
    }
    QMetaObject::invokeMethod(
        context_, [w = store_] { w->gather(); }, Qt::QueuedConnection);
}

std::vector<JournalEntry> Journal::takeQueued()
{
    const std::lock_guard lock(mutex_);
    gathering_ = false;
    return std::exchange(queued_, {});
}

void Journal::noteLine(LineState state, const JournalEntry& context)
{
    JournalEntry entry = context;
    entry.action = QStringLiteral("estado da ligação");
    entry.sign.clear();
    entry.bytes = 0;
    entry.echo.clear();
    entry.detail.clear();
    entry.outcome = lineStateText(state);
    entry.failure = state != LineState::Up;
    if (!entry.failure) entry.reason.clear();
    record(std::move(entry));
}

void Journal::namePorts(PortNames names)
{
    // Set on the journal's thread, before whatever it is asked after this.
    QMetaObject::invokeMethod(
        context_, [s = store_, names = std::move(names)]() mutable { s->namePorts(std::move(names)); }, Qt::QueuedConnection);
}

void Journal::setRetention(int days)
{
    QMetaObject::invokeMethod(
        context_, [w = store_, days] { w->prune(days); }, Qt::QueuedConnection);
}

void Journal::setSizeLimit(int megabytes)
{
    QMetaObject::invokeMethod(
        context_, [w = store_, megabytes] { w->limitSize(megabytes); }, Qt::QueuedConnection);
}

void Journal::flush()
{
    start();
    QMetaObject::invokeMethod(
        context_, [w = store_] { w->drain(); }, Qt::BlockingQueuedConnection);
}

void Journal::setProblem(const QString& problem)
{
    problem_ = problem;
    emit problemChanged(problem_);
}
