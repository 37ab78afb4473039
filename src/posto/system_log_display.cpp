// SPDX-License-Identifier: GPL-3.0-or-later
#include "posto/system_log_display.h"

Q_LOGGING_CATEGORY(postLog, "painel-posto", QtInfoMsg)

// The window's status line pads its texts to keep its panels' widths: blanks say nothing here.
void SystemLogDisplay::setPanelText(int panel, const std::string& text)
{
    const QString words = QString::fromStdString(text).trimmed();
    QString& shown = panels_[panel];
    if (shown == words) return;
    shown = words;
    if (!words.isEmpty()) qCInfo(postLog, "%s", qPrintable(words));
}

// The tool tip of a failure is its reason, which the operator would read under the mouse.
void SystemLogDisplay::setPanelToolTip(int panel, const std::string& toolTip)
{
    if (!toolTip.empty()) qCWarning(postLog, "%s: %s", qPrintable(panels_[panel]), toolTip.c_str());
}

void SystemLogDisplay::setDescription(const QString& text)
{
    if (text == description_) return;
    description_ = text;
    qCInfo(postLog, "painel: %s", qPrintable(text));
}

void SystemLogDisplay::markStale(const QString& note)
{
    if (note == stale_) return;
    stale_ = note;
    qCWarning(postLog, "o painel pode não mostrar o sinal: %s", qPrintable(note));
}
