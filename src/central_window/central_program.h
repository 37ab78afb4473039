// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/central_mqtt_client.h"
#include "central/post_board.h"
#include "central_window/central_options_dialog.h"
#include "central_window/central_window.h"

#include <memory>

// The control room's parts, built the one way the program and its tests use: the board on the
// broker's client, the window on the board. The client starts as painel-central.conf says, and
// afresh when "Mais opções" changes it; a refusal is said in the status bar and journaled.
class CentralProgram {
public:
    CentralProgram(QString settingsFile, Journal* journal);
    // The client goes first: nothing from the broker reaches a board or a window being taken down.
    ~CentralProgram() { client_.reset(); }
    CentralProgram(const CentralProgram&) = delete;
    CentralProgram& operator=(const CentralProgram&) = delete;

    void startLink();
    [[nodiscard]] CentralMqttClient* client() const { return client_.get(); }
    [[nodiscard]] const CentralSettings& settings() const { return settings_; }

private:
    void editOptions();
    void forget(const QStringList& ids);

    QString settingsFile_;
    Journal* journal_;
    CentralSettings settings_;
    std::unique_ptr<CentralMqttClient> client_;
    QString status_;

public:
    PostBoard board;
    CentralWindow window;
};
