// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/post_board.h"

#include "central/shown_text.h"

#include "mqtt/site_protocol.h"
#include "settings/more_settings.h"
#include "signs/sign_names.h"

#include <QCollator>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>

namespace {

const QRegularExpression& idPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return pattern;
}

QString countOf(int n, const QString& one, const QString& many) { return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? one : many); }

} // namespace

std::optional<qint64> Post::clockOffsetMs() const
{
    if (offsetSamples.empty()) return std::nullopt;
    return std::max_element(offsetSamples.begin(), offsetSamples.end(), [](const auto& a, const auto& b) { return a.second < b.second; })->second;
}

QDateTime Post::lastHeard() const
{
    if (online) return QDateTime::currentDateTimeUtc();
    if (since.isValid()) return since;
    return shownAt.isValid() ? std::min(shownAt, firstHeard) : firstHeard;
}

PostBoard::PostBoard(QString centralId, Publisher publish, Journal* journal, QObject* parent)
    : QObject(parent),
      centralId_(std::move(centralId)),
      publish_(std::move(publish)),
      journal_(journal),
      // This run's clock: a restarted control room's is another, never mistaken for this one.
      clockId_(QString::number(QRandomGenerator::system()->generate64(), 16))
{}

std::optional<PostBoard::Message> PostBoard::parse(const QByteArray& topic, const QByteArray& payload, bool retained, qint64 receivedMs)
{
    const QList<QByteArray> levels = topic.split('/');
    if (levels.size() != 3 || levels[0] != site::postRoot.toLatin1()) return std::nullopt;
    Message m;
    m.id = QString::fromLatin1(levels[1]);
    m.retained = retained;
    m.receivedMs = receivedMs != 0 ? receivedMs : site::steadyMs();
    if (!idPattern().match(m.id).hasMatch() || payload.isEmpty() || payload.size() > maxPayloadBytes) return std::nullopt;
    if (levels[2] == "estado") {
        if (payload != "online" && payload != "offline") return std::nullopt;
        m.topic = Topic::State;
        m.online = payload == "online";
        return m;
    }
    if (levels[2] == "sinal") {
        const auto state = site::readState(payload);
        if (!state || shownText(state->outcome).isEmpty()) return std::nullopt;
        m.topic = Topic::Sign;
        m.sign = state->sign;
        m.shown = state->shown;
        m.mode = shownText(state->mode);
        m.colour = shownText(state->colour);
        m.outcome = shownText(state->outcome);
        m.reason = shownText(state->reason);
        m.echo = shownText(state->echo);
        m.origin = shownText(state->origin);
        m.request = shownText(state->request);
        m.shownAt = state->when;
        m.cause = shownText(state->cause);
        m.endsAt = state->ends;
        return m;
    }
    if (levels[2] == "resposta") {
        const auto answer = site::readAnswer(payload);
        if (!answer || shownText(answer->request).isEmpty()) return std::nullopt;
        m.topic = Topic::Answer;
        m.request = shownText(answer->request);
        m.outcome = shownText(answer->outcome);
        m.reason = shownText(answer->reason);
        m.shownAt = answer->when;
        return m;
    }
    if (levels[2] == "info") {
        const auto info = site::readInfo(payload);
        if (!info) return std::nullopt;
        m.topic = Topic::Info;
        m.name = shownText(info->name, MqttSettings::maxNameChars).trimmed();
        // A name of marks or blanks alone would show as nothing at all: the id stands instead.
        const QList<uint> name = m.name.toUcs4();
        if (!m.name.isEmpty() && std::none_of(name.begin(), name.end(), isVisible)) {
            m.name.clear();
            m.nameRefused = QStringLiteral("o nome não tem letras, algarismos nem símbolos que se vejam");
        }
        m.group = shownText(info->group, MqttSettings::maxNameChars).trimmed();
        m.version = shownText(info->version);
        m.port = shownText(info->port);
        m.device = shownText(info->device);
        m.mode = shownText(info->mode);
        m.colour = shownText(info->colour);
        return m;
    }
    return std::nullopt;
}

QString PostBoard::groupOf(const Post& post)
{
    if (!post.group.isEmpty()) return post.group;
    static const QRegularExpression numbered(QStringLiteral("^(.*[^-_ 0-9])[-_ ]*[0-9]+$"));
    const QRegularExpressionMatch match = numbered.match(post.id);
    return match.hasMatch() ? match.captured(1) : QString();
}

QStringList PostBoard::groups(const QStringList& ids) const
{
    QStringList found;
    for (const QString& id : ids)
        if (const QString group = groupOf(posts_.at(id)); !group.isEmpty() && !found.contains(group)) found << group;
    return found;
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
    // "Curva 2" before "Curva 10", and case aside, whatever locale the program runs in: in the
    // C locale a collator compares code points, numbers and all.
    QCollator collator{QLocale(QLocale::Portuguese, QLocale::Portugal)};
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
    // A broker could be made to name any number of posts: past the limit, none is added, and
    // the ones left out are counted so that the operator knows.
    if (static_cast<int>(posts_.size()) >= maxPosts) {
        if (ignored_.size() < maxIgnoredCounted && ignored_.insert(id).second) emit summaryChanged(summary());
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
    case Topic::Answer: break;
    }
    if (!known) emit postsChanged();
    if (message.topic == Topic::Sign || message.topic == Topic::Answer) answered(*post, message);
    emit postChanged(message.id);
    return true;
}

void PostBoard::receiveState(Post& post, const Message& message)
{
    const bool news = !post.presenceHeard || post.online != message.online;
    // The same word again on this connection changes nothing.
    if (post.stateKnown && !news) return;
    post.presenceHeard = post.stateKnown = true;
    post.online = message.online;
    if (message.retained) {
        // Old news: when it was said is not known, only that it held before this connection.
        post.since = QDateTime();
        post.keptFromStart = connections_ <= 1;
        post.connectedAt = connectedAt_;
        return;
    }
    post.since = QDateTime::currentDateTimeUtc();
    if (news)
        record(message.online ? QStringLiteral("posto em linha") : QStringLiteral("posto fora de linha"),
               message.online ? QStringLiteral("em linha") : QStringLiteral("fora de linha"), post.id, {}, !message.online, std::nullopt, post.id);
}

void PostBoard::receiveSign(Post& post, const Message& message)
{
    post.sign = message.sign;
    post.shown = message.shown;
    post.mode = message.mode;
    post.colour = message.colour;
    post.outcome = message.outcome;
    post.reason = message.reason;
    post.echo = message.echo;
    post.origin = message.origin;
    post.request = message.request;
    post.shownAt = message.shownAt;
    post.cause = message.cause;
    post.endsAt = message.endsAt;
    // A state the broker kept was published long ago: its time says nothing of the clocks.
    std::optional<qint64> offset;
    if (!message.retained && message.shownAt.isValid()) {
        constexpr qint64 windowMs = 10 * 60 * 1000;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        offset = message.shownAt.toMSecsSinceEpoch() - now;
        while (!post.offsetSamples.empty() && post.offsetSamples.front().first < now - windowMs) post.offsetSamples.pop_front();
        post.offsetSamples.emplace_back(now, *offset);
    }
    recordState(post, message, offset);
}

void PostBoard::recordState(const Post& post, const Message& message, std::optional<qint64> offsetMs)
{
    if (journal_ == nullptr) return;
    QString detail = QStringLiteral("%1; mostra %2; origem %3")
                         .arg(post.id, message.shown ? signCaption(*message.shown) : QStringLiteral("desconhecido"),
                              message.origin.isEmpty() ? QStringLiteral("?") : message.origin);
    if (!message.request.isEmpty()) detail += QStringLiteral("; pedido %1").arg(message.request);
    if (!message.cause.isEmpty()) detail += QStringLiteral("; causa %1").arg(message.cause);
    detail += QStringLiteral("; hora do posto %1").arg(message.shownAt.toUTC().toString(Qt::ISODateWithMs));
    detail += offsetMs ? QStringLiteral("; relógio do posto %1%2 ms").arg(*offsetMs >= 0 ? QStringLiteral("+") : QString()).arg(*offsetMs)
                       : QStringLiteral("; conservado pelo broker");
    JournalEntry e =
        journalEntry(Origin::Central, QStringLiteral("sinal do posto"), message.outcome, message.reason, detail, post.sendFailed() || post.echoFailed());
    e.sign = signCaption(message.sign);
    e.mode = message.mode;
    e.colour = message.colour;
    e.echo = message.echo;
    e.post = post.id;
    journal_->record(std::move(e));
}

void PostBoard::receiveInfo(Post& post, const Message& message)
{
    const bool renamed = message.name != post.name || message.group != post.group;
    post.group = message.group;
    if (message.nameRefused != post.nameRefused && !message.nameRefused.isEmpty())
        record(QStringLiteral("nome recusado"), QStringLiteral("recusado"), post.id, message.nameRefused, true, std::nullopt, post.id);
    post.name = message.name;
    post.nameRefused = message.nameRefused;
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

QByteArray PostBoard::clockTick() const { return site::toJson(site::ClockTick{clockId_, site::steadyMs()}); }

QString PostBoard::send(Sign sign, const QStringList& ids, int durationSeconds) { return request(sign, ids, false, durationSeconds); }

QString PostBoard::stopAll() { return request(Sign::Stop, ids(), true); }

QString PostBoard::request(Sign sign, const QStringList& ids, bool everyone, int durationSeconds)
{
    // Short enough for the posts' 64 characters whatever the control room's id: its first 32,
    // the time and a count.
    const QString request = QStringLiteral("%1-%2-%3").arg(centralId_.left(32)).arg(QDateTime::currentMSecsSinceEpoch()).arg(++requests_);
    const qint64 sentMs = site::steadyMs();
    const QByteArray payload = site::toJson(
        site::Request{.sign = sign, .id = request, .clock = clockId_, .sentMs = sentMs, .validityMs = answerTimeoutMs, .durationSeconds = durationSeconds});
    lastRequest_ = request;
    lastSign_ = sign;
    lastTargets_.clear();
    lastSummary_.clear();
    // The site's own topic first: a post that gets both carries the request out once.
    const bool toEveryone = everyone && publish_(site::stopAllTopic(), payload);
    for (const QString& id : ids) {
        const auto found = posts_.find(id);
        if (found == posts_.end()) continue;
        Post& post = found->second;
        lastTargets_ << id;
        // The request still waited on is answered here, or never: an answer to it would no
        // longer be heard.
        if (post.answer == Post::Answer::Waiting) recordSilence(id, post.asked, QStringLiteral("substituído pelo pedido %1 antes de responder").arg(request));
        post.asked = request;
        post.askedAtMs = sentMs;
        post.answerMs = 0;
        post.answerReason.clear();
        post.answer = Post::Answer::Waiting;
        if (!publish_(site::postTopic(id, QStringLiteral("sinal/set")), payload)) {
            post.answer = Post::Answer::Failed;
            post.answerReason = QStringLiteral("sem ligação ao broker");
            record(QStringLiteral("falha"), QStringLiteral("não enviado"), QStringLiteral("%1; pedido %2").arg(id, request), post.answerReason, true, sign, id);
        }
        emit postChanged(id);
    }
    QString detail =
        QStringLiteral("pedido %1 a %2: %3")
            .arg(request, countOf(int(lastTargets_.size()), QStringLiteral("posto"), QStringLiteral("postos")), lastTargets_.join(QStringLiteral(", ")));
    if (toEveryone) detail += QStringLiteral("; e a todos os postos do site");
    record(QStringLiteral("pedido"), QStringLiteral("enviado"), detail, {}, false, sign);
    // Precise: the silence is said on time, and an answer is judged by when it came, not by when
    // this timer fired.
    QTimer::singleShot(answerTimeoutMs, Qt::PreciseTimer, this, [this, request] { expire(request); });
    emit summaryChanged(summary());
    return request;
}

void PostBoard::answered(Post& post, const Message& message)
{
    const bool waiting = post.answer == Post::Answer::Waiting || post.answer == Post::Answer::Silent;
    if (!waiting || message.request != post.asked) return;
    post.answerMs = message.receivedMs - post.askedAtMs;
    const QString detail = QStringLiteral("%1 em %2 ms; pedido %3").arg(post.id).arg(post.answerMs).arg(post.asked);
    const bool late = post.answer == Post::Answer::Silent || post.answerMs > answerTimeoutMs;
    if (message.topic == Topic::Answer) {
        // A request carried out is answered by the state it leaves, which says more.
        if (message.outcome != site::expiredText && message.outcome != site::refusedText) return;
        post.answer = message.outcome == site::expiredText ? Post::Answer::Expired : Post::Answer::Refused;
        post.answerReason = message.reason;
        record(message.outcome, message.outcome, detail, message.reason, true, post.sign, post.id);
    } else if (late) {
        post.answer = Post::Answer::Late;
        post.answerReason = post.sendFailed()
                                ? QStringLiteral("falhou: %1").arg(post.reason.isEmpty() ? post.outcome : post.outcome + QStringLiteral(": ") + post.reason)
                                : QStringLiteral("confirmado");
        record(QStringLiteral("resposta tardia"), post.answerReason, detail, QStringLiteral("depois de %1 ms sem resposta").arg(answerTimeoutMs), true,
               post.sign, post.id);
    } else if (post.sendFailed()) {
        post.answer = Post::Answer::Failed;
        post.answerReason = post.reason.isEmpty() ? post.outcome : QStringLiteral("%1: %2").arg(post.outcome, post.reason);
        record(QStringLiteral("falha"), post.outcome, detail, post.reason, true, post.sign, post.id);
    } else if (post.echoFailed()) {
        post.answer = Post::Answer::NoEcho;
        post.answerReason = post.reason.isEmpty() ? post.echo : post.reason;
        record(QStringLiteral("sem eco"), post.echo, detail, post.reason, true, post.sign, post.id);
    } else {
        post.answer = Post::Answer::Confirmed;
        record(QStringLiteral("confirmação"), post.onTheCable() ? QStringLiteral("confirmado no cabo") : QStringLiteral("confirmado, sem prova do cabo"),
               detail, {}, false, post.sign, post.id);
    }
    emit summaryChanged(summary());
}

void PostBoard::expire(const QString& request)
{
    for (auto& [id, post] : posts_) {
        if (post.asked != request || post.answer != Post::Answer::Waiting) continue;
        post.answer = Post::Answer::Silent;
        recordSilence(id, request, QStringLiteral("nenhuma resposta em %1 s").arg(answerTimeoutMs / 1000));
        emit postChanged(id);
    }
    if (request != lastRequest_) return;
    // The request's outcome as race control saw it at the end of its wait, for whoever reads the
    // journal later.
    const AnswersSummary answers = answersSummary();
    record(QStringLiteral("resumo"), answers.text, QStringLiteral("pedido %1").arg(request), {}, !answers.allConfirmed, lastSign_);
    emit summaryChanged(summary());
}

void PostBoard::setConnected(bool connected)
{
    if (std::exchange(connected_, connected) == connected) return;
    if (connected) {
        ++connections_;
        connectedAt_ = QDateTime::currentDateTimeUtc();
        // The last request's answers as they stood: its summary stays as it was said.
        if (!lastRequest_.isEmpty()) lastSummary_ = summary();
    }
    for (auto& [id, post] : posts_) {
        // Unknown while the broker cannot tell, and told afresh by what it keeps; an answer from
        // before the outage says nothing of the posts now.
        post.stateKnown = false;
        if (connected && post.answer != Post::Answer::Waiting) post.answer = Post::Answer::None;
        emit postChanged(id);
    }
}

PostBoard::AnswersSummary PostBoard::answersSummary() const
{
    QStringList parts;
    int confirmed = 0;
    {
        int onCable = 0, failed = 0, silent = 0, waiting = 0, late = 0, expired = 0, noEcho = 0, refused = 0;
        for (const QString& id : lastTargets_) {
            const Post* target = post(id);
            if (target == nullptr || target->asked != lastRequest_) continue;
            switch (target->answer) {
            case Post::Answer::Confirmed:
                ++confirmed;
                if (target->onTheCable()) ++onCable;
                break;
            case Post::Answer::NoEcho: ++noEcho; break;
            case Post::Answer::Refused: ++refused; break;
            case Post::Answer::Failed: ++failed; break;
            case Post::Answer::Silent: ++silent; break;
            case Post::Answer::Waiting: ++waiting; break;
            case Post::Answer::Late: ++late; break;
            case Post::Answer::Expired: ++expired; break;
            case Post::Answer::None: break;
            }
        }
        QString head = QStringLiteral("%1: %2 de %3 confirmados").arg(signCaption(lastSign_)).arg(confirmed).arg(lastTargets_.size());
        // Where some posts check the cable's echo, what was proved on the cable is said apart.
        if (onCable > 0) head += QStringLiteral(" (%1 no cabo, %2 sem prova do cabo)").arg(onCable).arg(confirmed - onCable);
        parts << head;
        if (noEcho > 0) parts << QStringLiteral("%1 sem eco").arg(noEcho);
        if (failed > 0) parts << countOf(failed, QStringLiteral("falhou"), QStringLiteral("falharam"));
        if (refused > 0) parts << countOf(refused, QStringLiteral("recusou"), QStringLiteral("recusaram"));
        if (silent > 0) parts << QStringLiteral("%1 sem resposta").arg(silent);
        if (late > 0) parts << countOf(late, QStringLiteral("respondeu tarde"), QStringLiteral("responderam tarde"));
        if (expired > 0) parts << countOf(expired, QStringLiteral("pedido expirado"), QStringLiteral("pedidos expirados"));
        if (waiting > 0) parts << QStringLiteral("%1 à espera").arg(waiting);
    }
    return {parts.join(QStringLiteral(", ")), confirmed == static_cast<int>(lastTargets_.size())};
}

QString PostBoard::summary() const
{
    QString text = !lastSummary_.isEmpty()  ? lastSummary_.section(QStringLiteral("; lista cheia"), 0, 0)
                   : lastRequest_.isEmpty() ? QString()
                                            : answersSummary().text;
    if (!ignored_.empty()) {
        if (!text.isEmpty()) text += QStringLiteral("; ");
        text += ignored_.size() == 1
                    ? QStringLiteral("lista cheia: 1 posto ignorado")
                    : QStringLiteral("lista cheia: %1 postos ignorados")
                          .arg(ignored_.size() >= maxIgnoredCounted ? QStringLiteral("%1 ou mais").arg(maxIgnoredCounted) : QString::number(ignored_.size()));
    }
    return text;
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
        if (posts_.erase(id) != 0) record(QStringLiteral("posto removido"), QStringLiteral("feito"), id, {}, false, std::nullopt, id);
    emit postsChanged();
}

void PostBoard::recordSilence(const QString& id, const QString& request, const QString& reason)
{
    record(QStringLiteral("sem resposta"), QStringLiteral("sem resposta"), QStringLiteral("%1; pedido %2").arg(id, request), reason, true, std::nullopt, id);
}

void PostBoard::record(const QString& action, const QString& outcome, const QString& detail, const QString& reason, bool failure, std::optional<Sign> sign,
                       const QString& post)
{
    if (journal_ == nullptr) return;
    JournalEntry e = journalEntry(Origin::Central, action, outcome, reason, detail, failure);
    if (sign) e.sign = signCaption(*sign);
    e.post = post;
    journal_->record(std::move(e));
}
