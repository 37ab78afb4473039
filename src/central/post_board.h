// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal.h"
#include "signs/sign_table.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>

// One post, as its messages on the broker tell it.
struct Post {
    QString id;
    QString name;               // from its info; the id until then
    QString group;              // from its info: the group it says it belongs to
    QString nameRefused;        // why the name in its info could not be shown
    bool online = false;        // as last heard, also while it cannot be heard
    bool presenceHeard = false; // its "estado" has been heard at all
    bool stateKnown = false;    // and on the present connection to the broker
    QDateTime since;            // online or offline since, when heard as it happened
    QDateTime firstHeard;       // by this control room
    // Heard as the broker kept it: true since before this control room started, or else since
    // before it connected at `connectedAt`.
    bool keptFromStart = false;
    QDateTime connectedAt;

    // The sign it was told to show last, and what its panel shows as far as it can tell (unknown
    // after a send cut short or without the echo's proof).
    std::optional<Sign> sign;
    std::optional<Sign> shown;
    QString mode;
    QString colour;
    QString origin;  // the journal's words: "rato", "central", "remoto", ...
    QString outcome; // "enviado", or how the send failed
    QString reason;
    QString echo; // the cable's echo of that send, as the post tells it; empty from older posts
    QString request;
    QDateTime shownAt;
    QString cause;    // why the post chose it by itself: its safe state, a time run out
    QDateTime endsAt; // when the sign's time runs out, by the post's clock; null when it has none
    // Its clock less this control room's, from the times in its live states, the last ten
    // minutes' (when here, difference), in ms.
    std::deque<std::pair<qint64, qint64>> offsetSamples;

    // What it is.
    QString port;
    QString device;
    QString version;

    // The last request this control room sent it, and what became of it. An answer after the
    // wait is Late, however it ended; Expired is the post's refusal of a request that reached it
    // too late to be carried out.
    // NoEcho: sent, but the cable's echo did not come back whole: no proof it reached the panel.
    // Refused: the post would not carry it out (its form, its rate, ...), and said why.
    enum class Answer { None, Waiting, Confirmed, Failed, Silent, Late, Expired, NoEcho, Refused };
    QString asked;
    qint64 askedAtMs = 0; // on the control room's monotonic clock
    Answer answer = Answer::None;
    qint64 answerMs = 0;  // this long after the request went out, on the control room's clock
    QString answerReason; // why it failed; for a late answer, how it ended

    [[nodiscard]] QString displayName() const { return name.isEmpty() ? id : name; }
    [[nodiscard]] bool sendFailed() const { return !outcome.isEmpty() && outcome != QLatin1String("enviado"); }
    // Sent with the cable's echo on, and the echo did not prove it reached the panel.
    [[nodiscard]] bool echoFailed() const
    {
        return !sendFailed() && !echo.isEmpty() && echo != QLatin1String("confirmado") && echo != QLatin1String("desligado");
    }
    // Proved to be at the panel's end of the cable.
    [[nodiscard]] bool onTheCable() const { return !sendFailed() && echo == QLatin1String("confirmado"); }
    // Its clock less this control room's: the largest recent difference, the one least held up
    // on the way; none before a live state.
    [[nodiscard]] std::optional<qint64> clockOffsetMs() const;
    // When it was last heard of for certain: for an offline post, when it went (or its last sign).
    [[nodiscard]] QDateTime lastHeard() const;
};

// The site as the control room sees it: every post the broker tells of, and the requests sent to
// them. Messages come from the broker, already split by topic; anything that is not exactly a
// post's message changes nothing. A request goes to each target through `publish`, with one id;
// each target's answer is the state it publishes next with that id, or silence after
// answerTimeoutMs, measured from the request to the moment the answer reached this control
// room. "Parar" to everyone also goes on the site's own topic, which every post follows, so that
// it reaches posts this board does not list. Requests, answers and posts coming and going are
// journaled.
class PostBoard final : public QObject {
    Q_OBJECT
public:
    // Publishes `payload` on `topic`; false when it could not go.
    using Publisher = std::function<bool(const QString& topic, const QByteArray& payload)>;

    static constexpr int answerTimeoutMs = 2000;
    static constexpr int maxPosts = 1000;
    static constexpr int maxPayloadBytes = 1024;
    // The posts beyond maxPosts are counted up to this many.
    static constexpr std::size_t maxIgnoredCounted = 10'000;

    // `centralId` begins every request's id.
    PostBoard(QString centralId, Publisher publish, Journal* journal, QObject* parent = nullptr);

    enum class Topic { State, Sign, Info, Answer };
    // A post's message, checked and read: what each topic says of the post.
    struct Message {
        QString id;
        Topic topic = Topic::State;
        bool retained = false;
        qint64 receivedMs = 0; // when it reached this control room, on its monotonic clock
        bool online = false;   // estado
        Sign sign = Sign::Stop;
        std::optional<Sign> shown;
        QString mode;
        QString colour;
        QString outcome;
        QString reason;
        QString echo;
        QString origin;
        QString request;
        QDateTime shownAt; // sinal, with the mode and colour; resposta with the request and outcome
        QString cause;     // sinal
        QDateTime endsAt;  // sinal
        QString name;
        QString group;
        QString nameRefused;
        QString version;
        QString port;
        QString device; // info, with the mode and colour
    };
    // The message on `topic`, received at `receivedMs` (now when not given), or nullopt for
    // anything that is not exactly a post's: another topic, an id that is no topic level, an
    // empty payload (a retained one cleared) or one over maxPayloadBytes, not JSON (a byte-order
    // mark first makes it none), a field of the wrong type, no sign's exact name, a time that is
    // none. Safe on any thread.
    [[nodiscard]] static std::optional<Message> parse(const QByteArray& topic, const QByteArray& payload, bool retained, qint64 receivedMs = 0);
    // Applies a message; false when it makes a post beyond maxPosts.
    bool receive(const Message& message);

    // `sign` to each of `ids`, with one request id, which it returns; for `durationSeconds`, then
    // each post's base sign, when not 0.
    QString send(Sign sign, const QStringList& ids, int durationSeconds = 0);
    // "Parar" to every post this board lists, and to every other on the site's own topic.
    QString stopAll();
    // The broker is reached, or lost. Lost, no post's presence is known; reached again, what the
    // broker keeps tells it afresh, and no answer from before stands.
    void setConnected(bool connected);
    // The control room's clock, which every request carries and which it publishes now and then:
    // its run's name and its monotonic time, which nobody sets.
    [[nodiscard]] const QString& clockId() const { return clockId_; }
    [[nodiscard]] const QString& centralId() const { return centralId_; }
    [[nodiscard]] QByteArray clockTick() const;
    // The posts heard of beyond maxPosts, up to maxIgnoredCounted.
    [[nodiscard]] std::size_t ignoredPosts() const { return ignored_.size(); }

    [[nodiscard]] const std::map<QString, Post>& posts() const { return posts_; }
    [[nodiscard]] const Post* post(const QString& id) const;
    // Every post's id, ordered by name.
    [[nodiscard]] QStringList ids() const;
    // A post's group: the one its info names, else its id's stem before a closing number
    // ("curva-12" is in "curva"); empty when it has neither.
    [[nodiscard]] static QString groupOf(const Post& post);
    // Every group the posts `ids` (as ids() orders them) are in, in that order.
    [[nodiscard]] QStringList groups(const QStringList& ids) const;
    // The last request's answers so far: "Parar: 18 de 20 confirmados, 1 falhou, 1 sem resposta".
    [[nodiscard]] QString summary() const;
    // The posts offline and unheard of for a day by `now`.
    [[nodiscard]] QStringList absentForADay(const QDateTime& now = QDateTime::currentDateTimeUtc()) const;
    // Forgets them (their retained messages are the caller's to clear).
    void remove(const QStringList& ids);

signals:
    void postChanged(const QString& id);
    // A post came or went: the order may have changed.
    void postsChanged();
    void summaryChanged(const QString& summary);

private:
    // The last request's answers, and whether every post it went to confirmed it.
    struct AnswersSummary {
        QString text;
        bool allConfirmed = false;
    };
    [[nodiscard]] AnswersSummary answersSummary() const;
    Post* postFor(const QString& id);
    void receiveState(Post& post, const Message& message);
    void receiveSign(Post& post, const Message& message);
    void receiveInfo(Post& post, const Message& message);
    void answered(Post& post, const Message& message);
    void expire(const QString& request);
    QString request(Sign sign, const QStringList& ids, bool everyone, int durationSeconds = 0);
    // A post's sign as it told it, on both clocks.
    void recordState(const Post& post, const Message& message, std::optional<qint64> offsetMs);
    void recordSilence(const QString& id, const QString& request, const QString& reason);
    void record(const QString& action, const QString& outcome, const QString& detail, const QString& reason = {}, bool failure = false,
                std::optional<Sign> sign = std::nullopt, const QString& post = {});

    QString centralId_;
    Publisher publish_;
    Journal* journal_;
    std::map<QString, Post> posts_;
    std::set<QString> ignored_; // beyond maxPosts
    QString clockId_;
    bool connected_ = false;
    int connections_ = 0;
    QDateTime connectedAt_;
    int requests_ = 0;
    // The last request: what and to whom, and since when.
    QString lastRequest_;
    Sign lastSign_ = Sign::Stop;
    QStringList lastTargets_;
    QString lastSummary_;   // as it stood when the broker came back, which clears the answers
    bool fullSaid_ = false; // the limit on posts was journaled
};
