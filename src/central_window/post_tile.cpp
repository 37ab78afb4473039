// SPDX-License-Identifier: GPL-3.0-or-later
#include "central_window/post_tile.h"

#include "settings/setting_names.h"
#include "signs/sign_names.h"
#include "widgets/panel_preview.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimeZone>

#include <set>

namespace {

const SignPatterns& patterns()
{
    static const SignPatterns made = [] {
        SignPatterns p;
        initPatterns(p);
        return p;
    }();
    return made;
}

// The matrix as the post's panel shows it: the flag's first image for the animated one.
void drawSign(PanelPreview& matrix, const Post& post)
{
    // What the panel shows, dark when the post cannot tell.
    const SignDescription* sign = post.shown ? describeSign(*post.shown) : nullptr;
    if (sign == nullptr) return matrix.drawPatternMono({}, 0, 0);
    const SignPattern& pattern = patterns().*(sign->pattern);
    if (post.mode == QLatin1String("monocor")) matrix.drawPatternMono(pattern, colourFromName(post.colour), sign->monoPlane);
    else matrix.drawPattern(pattern);
}

} // namespace

QString ageText(qint64 seconds)
{
    if (seconds < 60) return QStringLiteral("há %1 s").arg(std::max<qint64>(seconds, 0));
    if (seconds < 3600) return QStringLiteral("há %1 min").arg(seconds / 60);
    if (seconds < 48 * 3600) return QStringLiteral("há %1 h").arg(seconds / 3600);
    return QStringLiteral("há %1 dias").arg(seconds / 86400);
}

QString originWords(const QString& origin)
{
    if (origin == QLatin1String("central")) return QStringLiteral("pela central");
    if (origin == QLatin1String("remoto")) return QStringLiteral("remotamente");
    if (origin == QLatin1String("arranque")) return QStringLiteral("no arranque do posto");
    if (origin == QStringLiteral("segurança")) return QStringLiteral("pelo posto, por segurança");
    if (origin == QStringLiteral("fim de duração")) return QStringLiteral("pelo posto, no fim da duração");
    if (origin.isEmpty()) return QStringLiteral("por quem não se sabe");
    return QStringLiteral("no posto (%1)").arg(origin);
}

PostTile::PostTile(const QString& id, QWidget* parent)
    : QFrame(parent),
      id_(id),
      name_(new QLabel(this)),
      presence_(new QLabel(this)),
      matrix_(new PanelPreview(this, 1050)),
      sign_(new QLabel(this)),
      outcome_(new QLabel(this)),
      answer_(new QLabel(this))
{
    setObjectName(id);
    setFocusPolicy(Qt::StrongFocus);
    // A fixed size: a line that changes redraws this tile, never lays out the whole grid again.
    setFixedSize(tileSize);
    setAutoFillBackground(true);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    QFont bold = name_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    name_->setFont(bold);
    for (QLabel* label : {name_, presence_, sign_, outcome_, answer_}) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
    }
    layout->addWidget(name_, 0, 0, 1, 2);
    layout->addWidget(matrix_, 1, 0, 4, 1, Qt::AlignTop);
    layout->addWidget(presence_, 1, 1);
    layout->addWidget(sign_, 2, 1);
    layout->addWidget(outcome_, 3, 1);
    layout->addWidget(answer_, 4, 1);
    layout->setColumnStretch(1, 1);
}

void PostTile::showAge(const Post& post)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (!post.stateKnown) presence_->setText(QStringLiteral("estado desconhecido"));
    else if (post.online && post.since.isValid()) presence_->setText(QStringLiteral("● em linha %1").arg(ageText(post.since.secsTo(now))));
    else if (post.online)
        // As the broker kept it: since when, nobody said; only that it was before this connection.
        presence_->setText(
            post.keptFromStart || !post.connectedAt.isValid()
                ? QStringLiteral("● em linha (desde antes do arranque)")
                : QStringLiteral("● em linha (desde antes da ligação das %1)").arg(post.connectedAt.toLocalTime().toString(QStringLiteral("HH:mm:ss"))));
    else {
        const QDateTime heard = post.lastHeard();
        presence_->setText(QStringLiteral("⚠ FORA DE LINHA %1")
                               .arg(post.since.isValid() ? ageText(heard.secsTo(now)) : QStringLiteral("(último sinal %1)").arg(ageText(heard.secsTo(now)))));
    }
}

void PostTile::showSign(const Post& post)
{
    if (!post.sign) return sign_->setText(QStringLiteral("sinal desconhecido"));
    const QString when = post.shownAt.isValid() ? post.shownAt.toLocalTime().toString(QStringLiteral("HH:mm:ss")) : QStringLiteral("?");
    // The post's own clock, which may be wrong: said as the post's.
    QString text = QStringLiteral("%1, %2 às %3 (hora do posto)").arg(signCaption(*post.sign), originWords(post.origin), when);
    if (!post.cause.isEmpty()) text += QStringLiteral(": %1").arg(post.cause);
    // The panel may show something else than was chosen: a send that failed, or no proof.
    if (post.shown != post.sign)
        text += post.shown ? QStringLiteral("; o painel mostra %1").arg(signCaption(*post.shown)) : QStringLiteral("; o painel mostra: desconhecido");
    if (post.endsAt.isValid()) {
        const qint64 left = QDateTime::currentDateTimeUtc().secsTo(post.endsAt);
        const QString end = post.endsAt.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
        text += left > 0 ? QStringLiteral("; termina daqui a %1 s (%2, hora do posto)").arg(left).arg(end)
                         : QStringLiteral("; devia ter terminado às %1 (hora do posto)").arg(end);
    }
    sign_->setText(text);
}

void PostTile::showPost(const Post& post, bool selected)
{
    if (!post.nameRefused.isEmpty()) name_->setText(QStringLiteral("%1 (nome recusado: %2)").arg(post.id, post.nameRefused));
    else name_->setText(post.name.isEmpty() || post.name == post.id ? post.id : QStringLiteral("%1 (%2)").arg(post.name, post.id));
    showAge(post);
    drawSign(*matrix_, post);
    showSign(post);
    if (post.sendFailed())
        outcome_->setText(QStringLiteral("⚠ FALHOU: %1").arg(post.reason.isEmpty() ? post.outcome : post.outcome + QStringLiteral(": ") + post.reason));
    else if (post.echoFailed()) outcome_->setText(QStringLiteral("⚠ SEM ECO: %1").arg(post.reason.isEmpty() ? post.echo : post.reason));
    else if (post.onTheCable()) outcome_->setText(QStringLiteral("%1, confirmado no cabo").arg(post.outcome));
    // A post without the cable's echo can say the bytes went out, not that they reached the panel.
    else if (!post.outcome.isEmpty()) outcome_->setText(QStringLiteral("%1, sem prova do cabo").arg(post.outcome));
    else outcome_->clear();
    switch (post.answer) {
    case Post::Answer::None: answer_->clear(); break;
    case Post::Answer::Waiting: answer_->setText(QStringLiteral("à espera de resposta…")); break;
    case Post::Answer::Confirmed:
        answer_->setText(post.onTheCable() ? QStringLiteral("confirmado no cabo em %1 ms").arg(post.answerMs)
                                           : QStringLiteral("confirmado em %1 ms, sem prova do cabo").arg(post.answerMs));
        break;
    case Post::Answer::Failed: answer_->setText(QStringLiteral("falhou: %1").arg(post.answerReason)); break;
    case Post::Answer::Silent: answer_->setText(QStringLiteral("sem resposta")); break;
    case Post::Answer::Late: answer_->setText(QStringLiteral("respondeu tarde: %1, %2 ms depois").arg(post.answerReason).arg(post.answerMs)); break;
    case Post::Answer::NoEcho: answer_->setText(QStringLiteral("sem eco do cabo, em %1 ms").arg(post.answerMs)); break;
    case Post::Answer::Refused: answer_->setText(QStringLiteral("recusado pelo posto: %1").arg(post.answerReason)); break;
    case Post::Answer::Expired: answer_->setText(QStringLiteral("pedido expirado no posto, %1 ms depois").arg(post.answerMs)); break;
    }
    if (selected) answer_->setText(QStringLiteral("✔ selecionado") + (answer_->text().isEmpty() ? QString() : QStringLiteral("; ") + answer_->text()));
    const std::set<Post::Answer> troubles{Post::Answer::Failed,  Post::Answer::Silent, Post::Answer::Late,
                                          Post::Answer::Expired, Post::Answer::NoEcho, Post::Answer::Refused};
    troubled_ = (post.stateKnown && !post.online) || post.sendFailed() || post.echoFailed() || troubles.count(post.answer) != 0;
    selected_ = selected;
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, troubled_ ? QColor(0xff, 0xe8, 0xe0) : QColor(0xf4, 0xf4, 0xf4));
    setPalette(palette);
    setAccessibleName(name_->text());
    setAccessibleDescription(text());
    // What a long reason cut short says in full.
    setToolTip(text());
    update();
}

QString PostTile::text() const
{
    QStringList lines;
    for (const QLabel* label : {name_, presence_, sign_, outcome_, answer_})
        if (!label->text().isEmpty()) lines << label->text();
    return lines.join(QLatin1Char('\n'));
}

void PostTile::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QFrame::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    emit clicked(id_, event->modifiers().testFlag(Qt::ControlModifier));
}

void PostTile::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space) return emit clicked(id_, true);
    QFrame::keyPressEvent(event);
}

void PostTile::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    // Selected: a thick border in the highlight colour; in trouble: dashed dark red; with focus:
    // dotted, inside.
    const QRectF edge = QRectF(rect()).adjusted(2, 2, -2, -2);
    QPen pen(selected_ ? palette().color(QPalette::Highlight) : QColor(0x90, 0x90, 0x90), selected_ ? 4 : 1);
    painter.setPen(pen);
    painter.drawRect(edge);
    if (troubled_) {
        QPen dashes(QColor(0xa0, 0, 0), 3, Qt::DashLine);
        painter.setPen(dashes);
        painter.drawRect(edge.adjusted(5, 5, -5, -5));
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        painter.drawRect(edge.adjusted(9, 9, -9, -9));
    }
}
