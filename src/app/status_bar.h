// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/status_line.h"

#include <QDateTime>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <array>

// StatusBar1: panel 1 the link's messages, panel 2 the port, panels 3 and 4 the date and the
// time, which keep themselves current.
class PanelStatusBar final : public QStatusBar, public StatusLine {
    Q_OBJECT
public:
    explicit PanelStatusBar(QWidget* parent = nullptr);

    void setPanelText(int panel, const std::string& text) override;
    void setPanelToolTip(int panel, const std::string& toolTip) override;

    // A standing note under the panel's tooltip, kept whatever the link later puts there.
    void setPanelNote(int panel, const QString& note);

    // A sign chosen for a while: "Frente: 17 s" beside the link's panel, counting down each
    // second until `ends`; an invalid time hides it. Absent otherwise, the bar as ever.
    void showTimedSign(const QString& sign, const QDateTime& ends);
    [[nodiscard]] QLabel& countdown() const { return *countdown_; }

    // The text as last set, line feeds included.
    [[nodiscard]] QString panelText(int panel) const;
    [[nodiscard]] QLabel& panel(int panel) const;

private:
    void refreshClock();

    std::array<QLabel*, 4> panels_{};
    void showToolTip(int panel);

    std::array<QString, 4> texts_{};
    std::array<QString, 4> toolTips_{};
    std::array<QString, 4> notes_{};
    QTimer clock_;
    QLabel* countdown_ = nullptr;
    QString timedSign_;
    QDateTime timedSignEnds_;
    QTimer countdownTick_;
    void refreshCountdown();
};
