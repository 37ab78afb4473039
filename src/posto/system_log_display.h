// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/status_line.h"
#include "signs/sign_view.h"

#include <QLoggingCategory>
#include <QString>

#include <map>

Q_DECLARE_LOGGING_CATEGORY(postLog)

// Where a post without a screen shows what the window would: the status line's changes and the
// sign's words go to standard error, which the system's log (journalctl) keeps. Each is said when
// it changes, never again while it stands.
class SystemLogDisplay final : public StatusLine, public SignView {
public:
    void setPanelText(int panel, const std::string& text) override;
    void setPanelToolTip(int panel, const std::string& toolTip) override;

    void drawPattern(const SignPattern&) override {}
    void drawPatternMono(const SignPattern&, ColourCode, std::int16_t) override {}
    void setDescription(const QString& text) override;
    void markStale(const QString& note) override;
    void clearStale() override { stale_.clear(); }

private:
    std::map<int, QString> panels_;
    QString description_;
    QString stale_;
};
