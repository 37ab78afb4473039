// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <chrono>

// What the posts and the control room say to each other on the site's broker: the topics, the
// clock requests are timed by, the words of an answer. The topics, as both use them. A post's
// own are under painel-sinaletico/<id>/; the control room's under painel-central/, a root no
// post id can reach, so that an ACL can keep them to the control room's user alone.
namespace site {

inline const QString postRoot = QStringLiteral("painel-sinaletico");
inline const QString centralRoot = QStringLiteral("painel-central");

// painel-sinaletico/<id>/<leaf>: "estado", "sinal", "info", "resposta", "sinal/set".
[[nodiscard]] inline QString postTopic(const QString& id, const QString& leaf) { return postRoot + QLatin1Char('/') + id + QLatin1Char('/') + leaf; }
// "Parar" to every post at once, whether or not a control room knows of it.
[[nodiscard]] inline QString stopAllTopic() { return centralRoot + QStringLiteral("/parar"); }
// painel-central/<id>/<leaf>: the control room's clock ("relogio") and its own check ("sonda").
[[nodiscard]] inline QString centralTopic(const QString& id, const QString& leaf) { return centralRoot + QLatin1Char('/') + id + QLatin1Char('/') + leaf; }
// Home Assistant's discovery of a post's sign, as a select entity.
[[nodiscard]] inline QString homeAssistantTopic(const QString& id) { return QStringLiteral("homeassistant/select/%1/sinal/config").arg(id); }

// Milliseconds on this computer's monotonic clock, which nobody sets: what a request's delay is
// measured by, at both ends.
[[nodiscard]] inline qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A request's answer other than the state it leaves: "pedido expirado", the request too old to
// be carried out.
inline const QString expiredText = QStringLiteral("pedido expirado");

} // namespace site
