// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal.h"
#include "signs/sign_table.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>

// One post, as its messages on the broker tell it.
struct Post {
    QString id;
    QString name; // from its info; the id until then
    bool online = false;
    bool stateKnown = false; // its "estado" has been heard
    QDateTime since;         // online or offline since, when heard as it happened
    QDateTime firstHeard;    // by this control room

    // Its shown sign.
    std::optional<Sign> sign;
    QString mode;
    QString colour;
    QString origin;  // the journal's words: "rato", "central", "remoto", ...
    QString outcome; // "enviado", or how the send failed
    QString reason;
    QString request;
    QDateTime shownAt;

    // What it is.
    QString port;
    QString device;
    QString version;

    // The last request this control room sent it, and what became of it.
    enum class Answer { None, Waiting, Confirmed, Failed, Silent };
    QString asked;
    Answer answer = Answer::None;
    qint64 answerMs = 0;  // confirmed this long after the request went out
    QString answerReason; // why it failed

    [[nodiscard]] QString displayName() const { return name.isEmpty() ? id : name; }
    [[nodiscard]] bool sendFailed() const { return !outcome.isEmpty() && outcome != QLatin1String("enviado"); }
    // When it was last heard of for certain: for an offline post, when it went (or its last sign).
    [[nodiscard]] QDateTime lastHeard() const;
};

// The site as the control room sees it: every post the broker tells of, and the requests sent to
// them. Messages come from the broker, already split by topic; anything that is not exactly a
// post's message changes nothing. A request goes to each target through `publish`, with one id;
// each target's answer is the state it publishes next with that id, or silence after
// answerTimeoutMs. Requests, answers and posts coming and going are journaled.
class PostBoard final : public QObject {
    Q_OBJECT
public:
    // Publishes a request to post `id`'s set topic; false when it could not go.
    using Publisher = std::function<bool(const QString& id, const QByteArray& payload)>;

    static constexpr int answerTimeoutMs = 2000;
    static constexpr int maxPosts = 1000;
    static constexpr int maxPayloadBytes = 1024;

    // `centralId` begins every request's id.
    PostBoard(QString centralId, Publisher publish, Journal* journal, QObject* parent = nullptr);

    enum class Topic { State, Sign, Info };
    // A post's message, checked and read: what each topic says of the post.
    struct Message {
        QString id;
        Topic topic = Topic::State;
        bool retained = false;
        bool online = false; // estado
        Sign sign = Sign::Stop;
        QString mode;
        QString colour;
        QString outcome;
        QString reason;
        QString origin;
        QString request;
        QDateTime shownAt; // sinal, with the mode and colour
        QString name;
        QString version;
        QString port;
        QString device; // info, with the mode and colour
    };
    // The message on `topic`, or nullopt for anything that is not exactly a post's: another
    // topic, an id that is no topic level, an empty payload (a retained one cleared) or one
    // over maxPayloadBytes, not JSON, a field of the wrong type, no sign. Safe on any thread.
    [[nodiscard]] static std::optional<Message> parse(const QByteArray& topic, const QByteArray& payload, bool retained);
    // Applies a message; false when it makes a post beyond maxPosts.
    bool receive(const Message& message);

    // `sign` to each of `ids`, with one request id, which it returns.
    QString send(Sign sign, const QStringList& ids);
    // "Parar" to every post.
    QString stopAll() { return send(Sign::Stop, ids()); }

    [[nodiscard]] const std::map<QString, Post>& posts() const { return posts_; }
    [[nodiscard]] const Post* post(const QString& id) const;
    // Every post's id, ordered by name.
    [[nodiscard]] QStringList ids() const;
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
    Post* postFor(const QString& id);
    void receiveState(Post& post, const Message& message);
    void receiveSign(Post& post, const Message& message);
    void receiveInfo(Post& post, const Message& message);
    void answered(Post& post);
    void expire(const QString& request);
    void record(const QString& action, const QString& outcome, const QString& detail, const QString& reason = {}, bool failure = false,
                std::optional<Sign> sign = std::nullopt);

    QString centralId_;
    Publisher publish_;
    Journal* journal_;
    std::map<QString, Post> posts_;
    int requests_ = 0;
    // The last request: what and to whom, and since when.
    QString lastRequest_;
    Sign lastSign_ = Sign::Stop;
    QStringList lastTargets_;
    std::map<QString, QElapsedTimer> sentAt_; // requests still waiting for answers
    bool fullSaid_ = false;                   // the limit on posts was journaled
};
