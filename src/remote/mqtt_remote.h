// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/panel_session.h"

#include <QObject>
#include <QTimer>

#include <memory>

class PostMqttClient;

// The session on the broker painel-sinaletico.conf names: started once the session has read its
// settings, and afresh whenever "Mais opções" changes them; a refusal is journaled and said in the
// session's standing note, as is the broker's state. When race control is lost, the post keeps its
// sign or, as [seguranca] says, sends "Parar" once the loss has lasted its delay; nothing is sent
// when race control comes back.
class MqttRemote final : public QObject {
    Q_OBJECT
public:
    explicit MqttRemote(PanelSession& session, QObject* parent = nullptr);
    // The broker's keep-alive of a post with a safe state: a silent loss is noticed in under 10 s.
    static constexpr int safeStateKeepAliveSeconds = 5;
    ~MqttRemote() override;

    // Starts the client as the session's settings say; again whenever they change.
    void start();
    // The running client, or none (off or refused).
    [[nodiscard]] PostMqttClient* client() const { return client_.get(); }
    // The program ends: the broker is told "offline" now rather than by the last will.
    void stop();

private:
    // A choice of the session's, retained.
    void publishState(const PanelSession::Choice& choice);
    // The post's port and settings, retained.
    void publishInfo();
    // Race control lost: the safe state, when the settings ask for it, once the delay has passed.
    void raceControlLost(const QString& cause);
    void raceControlBack();

    PanelSession& session_;
    std::unique_ptr<PostMqttClient> client_;
    QTimer safeState_;
    QString lostCause_;
};
