// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/post_board.h"

#include "signs/sign_names.h"

#include <QCollator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>

namespace {

const QRegularExpression& idPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return pattern;
}

// A JSON object's string fields, each no longer than a line on a tile; nullopt when the payload is
// not an object or any field present is not a string.
std::optional<QJsonObject> stringObject(const QByteArray& payload, std::initializer_list<const char*> fields)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    const QJsonObject object = document.object();
    for (const char* field : fields) {
        const QJsonValue value = object.value(QLatin1String(field));
        if (!value.isUndefined() && !value.isString()) return std::nullopt;
    }
    return object;
}

// A field as a tile shows it: one line of printable text, 200 characters at most.
QString text(const QJsonObject& object, const char* field)
{
    QString value = object.value(QLatin1String(field)).toString().left(200);
    std::replace_if(
        value.begin(), value.end(), [](QChar c) { return !c.isPrint(); }, QLatin1Char(' '));
    return value;
}

QString countOf(int n, const QString& one, const QString& many) { return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? one : many); }

} // namespace

QDateTime Post::lastHeard() const
{
    if (online) return QDateTime::currentDateTimeUtc();
    if (since.isValid()) return since;
    return shownAt.isValid() ? std::min(shownAt, firstHeard) : firstHeard;
}

PostBoard::PostBoard(QString centralId, Publisher publish, Journal* journal, QObject* parent)
    : QObject(parent), centralId_(std::move(centralId)), publish_(std::move(publish)), journal_(journal)
{}

std::optional<PostBoard::Message> PostBoard::parse(const QByteArray& topic, const QByteArray& payload, bool retained)
{
    const QList<QByteArray> levels = topic.split('/');
    if (levels.size() != 3 || levels[0] != "painel-sinaletico") return std::nullopt;
    Message m;
    m.id = QString::fromLatin1(levels[1]);
    m.retained = retained;
    if (!idPattern().match(m.id).hasMatch() || payload.isEmpty() || payload.size() > maxPayloadBytes) return std::nullopt;
    if (levels[2] == "estado") {
        if (payload != "online" && payload != "offline") return std::nullopt;
        m.topic = Topic::State;
        m.online = payload == "online";
        return m;
    }
    if (levels[2] == "sinal") {
        const auto state = stringObject(payload, {"sinal", "modo", "cor", "hora", "resultado", "motivo", "origem", "pedido"});
        const std::optional<Sign> sign = state ? signFromName(state->value(QStringLiteral("sinal")).toString()) : std::nullopt;
        if (!sign || text(*state, "resultado").isEmpty()) return std::nullopt;
        m.topic = Topic::Sign;
        m.sign = *sign;
        m.mode = text(*state, "modo");
        m.colour = text(*state, "cor");
        m.outcome = text(*state, "resultado");
        m.reason = text(*state, "motivo");
        m.origin = text(*state, "origem");
        m.request = text(*state, "pedido");
        const QDateTime shown = QDateTime::fromString(state->value(QStringLiteral("hora")).toString(), Qt::ISODateWithMs);
        m.shownAt = shown.isValid() ? shown.toUTC() : QDateTime();
        return m;
    }
    if (levels[2] == "info") {
        const auto info = stringObject(payload, {"nome", "versao", "porta", "dispositivo", "modo", "cor"});
        if (!info) return std::nullopt;
        m.topic = Topic::Info;
        m.name = text(*info, "nome").left(64).trimmed();
        m.version = text(*info, "versao");
        m.port = text(*info, "porta");
        m.device = text(*info, "dispositivo");
        m.mode = text(*info, "modo");
        m.colour = text(*info, "cor");
        return m;
    }
    return std::nullopt;
}

const Post* PostBoard::post(const QString& id) const
{
    const auto found = posts_.find(id);
    return found == posts_.end() ? nullptr : &found->second;
}

QStringList PostBoard::ids() const
{
    std::vector<const Post*> sorted;
    sorted.reserve(posts_.size());
    for (const auto& [id, post] : posts_) sorted.push_back(&post);
    // "Curva 2" before "Curva 10", and case aside.
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(sorted.begin(), sorted.end(), [&collator](const Post* a, const Post* b) {
        const int byName = collator.compare(a->displayName(), b->displayName());
        return byName != 0 ? byName < 0 : a->id < b->id;
    });
    QStringList ids;
    for (const Post* post : sorted) ids << post->id;
    return ids;
}

Post* PostBoard::postFor(const QString& id)
{
    if (const auto found = posts_.find(id); found != posts_.end()) return &found->second;
    // A broker could be made to name any number of posts: past the limit, none is added.
    if (static_cast<int>(posts_.size()) >= maxPosts) {
        if (!std::exchange(fullSaid_, true))
            record(QStringLiteral("posto ignorado"), QStringLiteral("recusado"), id, QStringLiteral("mais de %1 postos").arg(maxPosts), true);
        return nullptr;
    }
    Post& post = posts_[id];
    post.id = id;
    post.firstHeard = QDateTime::currentDateTimeUtc();
    return &post;
}

bool PostBoard::receive(const Message& message)
{
    const bool known = posts_.count(message.id) != 0;
    Post* post = postFor(message.id);
    if (post == nullptr) return false;
    switch (message.topic) {
    case Topic::State: receiveState(*post, message); break;
    case Topic::Sign: receiveSign(*post, message); break;
    case Topic::Info: receiveInfo(*post, message); break;
    }
    if (!known) emit postsChanged();
    if (message.topic == Topic::Sign) answered(*post);
    emit postChanged(message.id);
    return true;
}

void PostBoard::receiveState(Post& post, const Message& message)
{
    const bool changed = !post.stateKnown || post.online != message.online;
    post.stateKnown = true;
    post.online = message.online;
    // A retained word is old news: when it was said is not known.
    if (changed) post.since = message.retained ? QDateTime() : QDateTime::currentDateTimeUtc();
    if (changed && !message.retained)
        record(message.online ? QStringLiteral("posto em linha") : QStringLiteral("posto fora de linha"),
               message.online ? QStringLiteral("em linha") : QStringLiteral("fora de linha"), post.id, {}, !message.online);
}

void PostBoard::receiveSign(Post& post, const Message& message)
{
    post.sign = message.sign;
    post.mode = message.mode;
    post.colour = message.colour;
    post.outcome = message.outcome;
    post.reason = message.reason;
    post.origin = message.origin;
    post.request = message.request;
    post.shownAt = message.shownAt;
}

void PostBoard::receiveInfo(Post& post, const Message& message)
{
    const bool renamed = message.name != post.name;
    post.name = message.name;
    post.version = message.version;
    post.port = message.port;
    post.device = message.device;
    // The post's settings, until it shows its next sign under them.
    if (!post.sign) {
        post.mode = message.mode;
        post.colour = message.colour;
    }
    if (renamed) emit postsChanged();
}

QString PostBoard::send(Sign sign, const QStringList& ids)
{
    const QString request = QStringLiteral("%1-%2-%3").arg(centralId_).arg(QDateTime::currentMSecsSinceEpoch()).arg(++requests_);
    const QByteArray payload = QJsonDocument(QJsonObject{{QStringLiteral("sinal"), signCaption(sign)},
                                                         {QStringLiteral("pedido"), request},
                                                         {QStringLiteral("origem"), QStringLiteral("central")}})
                                   .toJson(QJsonDocument::Compact);
    lastRequest_ = request;
    lastSign_ = sign;
    lastTargets_.clear();
    QElapsedTimer& started = sentAt_[request];
    started.start();
    for (const QString& id : ids) {
        const auto found = posts_.find(id);
        if (found == posts_.end()) continue;
        Post& post = found->second;
        lastTargets_ << id;
        post.asked = request;
        post.answerMs = 0;
        post.answerReason.clear();
        post.answer = Post::Answer::Waiting;
        if (!publish_(id, payload)) {
            post.answer = Post::Answer::Failed;
            post.answerReason = QStringLiteral("sem ligação ao broker");
            record(QStringLiteral("falha"), QStringLiteral("não enviado"), QStringLiteral("%1; pedido %2").arg(id, request), post.answerReason, true, sign);
        }
        emit postChanged(id);
    }
    record(QStringLiteral("pedido"), QStringLiteral("enviado"),
           QStringLiteral("pedido %1 a %2: %3")
               .arg(request, countOf(int(lastTargets_.size()), QStringLiteral("posto"), QStringLiteral("postos")), lastTargets_.join(QStringLiteral(", "))),
           {}, false, sign);
    QTimer::singleShot(answerTimeoutMs, this, [this, request] { expire(request); });
    emit summaryChanged(summary());
    return request;
}

void PostBoard::answered(Post& post)
{
    if (post.answer != Post::Answer::Waiting || post.request != post.asked) return;
    const auto started = sentAt_.find(post.asked);
    post.answerMs = started == sentAt_.end() ? 0 : started->second.elapsed();
    const QString detail = QStringLiteral("%1 em %2 ms; pedido %3").arg(post.id).arg(post.answerMs).arg(post.asked);
    if (post.sendFailed()) {
        post.answer = Post::Answer::Failed;
        post.answerReason = post.reason.isEmpty() ? post.outcome : QStringLiteral("%1: %2").arg(post.outcome, post.reason);
        record(QStringLiteral("falha"), post.outcome, detail, post.reason, true, post.sign);
    } else {
        post.answer = Post::Answer::Confirmed;
        record(QStringLiteral("confirmação"), QStringLiteral("confirmado"), detail, {}, false, post.sign);
    }
    emit summaryChanged(summary());
}

void PostBoard::expire(const QString& request)
{
    sentAt_.erase(request);
    for (auto& [id, post] : posts_) {
        if (post.asked != request || post.answer != Post::Answer::Waiting) continue;
        post.answer = Post::Answer::Silent;
        record(QStringLiteral("sem resposta"), QStringLiteral("sem resposta"), QStringLiteral("%1; pedido %2").arg(id, request),
               QStringLiteral("nenhuma resposta em %1 s").arg(answerTimeoutMs / 1000), true);
        emit postChanged(id);
    }
    if (request == lastRequest_) emit summaryChanged(summary());
}

QString PostBoard::summary() const
{
    if (lastRequest_.isEmpty()) return {};
    int confirmed = 0, failed = 0, silent = 0, waiting = 0;
    for (const QString& id : lastTargets_) {
        const Post* target = post(id);
        if (target == nullptr || target->asked != lastRequest_) continue;
        switch (target->answer) {
        case Post::Answer::Confirmed: ++confirmed; break;
        case Post::Answer::Failed: ++failed; break;
        case Post::Answer::Silent: ++silent; break;
        case Post::Answer::Waiting: ++waiting; break;
        case Post::Answer::None: break;
        }
    }
    QStringList parts{QStringLiteral("%1: %2 de %3 confirmados").arg(signCaption(lastSign_)).arg(confirmed).arg(lastTargets_.size())};
    if (failed > 0) parts << countOf(failed, QStringLiteral("falhou"), QStringLiteral("falharam"));
    if (silent > 0) parts << QStringLiteral("%1 sem resposta").arg(silent);
    if (waiting > 0) parts << QStringLiteral("%1 à espera").arg(waiting);
    return parts.join(QStringLiteral(", "));
}

QStringList PostBoard::absentForADay(const QDateTime& now) const
{
    QStringList absent;
    for (const QString& id : ids()) {
        const Post& p = posts_.at(id);
        if (p.stateKnown && !p.online && p.lastHeard().secsTo(now) >= 24 * 3600) absent << id;
    }
    return absent;
}

void PostBoard::remove(const QStringList& ids)
{
    for (const QString& id : ids)
        if (posts_.erase(id) != 0) record(QStringLiteral("posto removido"), QStringLiteral("feito"), id);
    emit postsChanged();
}

void PostBoard::record(const QString& action, const QString& outcome, const QString& detail, const QString& reason, bool failure, std::optional<Sign> sign)
{
    if (journal_ == nullptr) return;
    JournalEntry e = journalEntry(Origin::Central, action, outcome, reason, detail, failure);
    if (sign) e.sign = signCaption(*sign);
    journal_->record(std::move(e));
}
