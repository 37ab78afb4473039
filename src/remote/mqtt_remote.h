// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/panel_session.h"

#include <QObject>

#include <memory>

class PostMqttClient;

// The session on the broker painel-sinaletico.conf names: started once the session has read its
// settings, and afresh whenever "Mais opções" changes them; a refusal is journaled and said in the
// session's standing note, as is the broker's state.
class MqttRemote final : public QObject {
    Q_OBJECT
public:
    explicit MqttRemote(PanelSession& session, QObject* parent = nullptr);
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

    PanelSession& session_;
    std::unique_ptr<PostMqttClient> client_;
};
