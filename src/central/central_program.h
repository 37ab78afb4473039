// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/central_link.h"
#include "central/central_settings.h"
#include "central/central_window.h"
#include "central/post_board.h"

#include <memory>

// The control room's parts, built the one way the program and its tests use: the board on the
// broker's link, the window on the board. The link starts as painel-central.conf says, and
// afresh when "Mais opções" changes it; a refusal is said in the status bar and journaled.
class CentralProgram {
public:
    CentralProgram(QString settingsFile, Journal* journal);
    // The link goes first: nothing from the broker reaches a board or a window being taken down.
    ~CentralProgram() { link_.reset(); }
    CentralProgram(const CentralProgram&) = delete;
    CentralProgram& operator=(const CentralProgram&) = delete;

    void startLink();
    [[nodiscard]] CentralLink* link() const { return link_.get(); }
    [[nodiscard]] const CentralSettings& settings() const { return settings_; }

private:
    void editOptions();
    void forget(const QStringList& ids);

    QString settingsFile_;
    Journal* journal_;
    CentralSettings settings_;
    std::unique_ptr<CentralLink> link_;
    QString status_;

public:
    PostBoard board;
    CentralWindow window;
};
