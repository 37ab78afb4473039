// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/status_bar.h"

#include "panel/panel_line.h"
#include "widgets/twips.h"

#include <QDateTime>

#include <algorithm>

namespace {
constexpr int panelCount = 4;
constexpr std::array<int, panelCount> panelWidths{2725, 1000, 1000, 1000};
constexpr int minimumPanelWidth = 1000;

// The width the panel needs to show each of the texts whole, in the font the desktop gives it.
int widthFor(QLabel& panel, std::initializer_list<QString> texts)
{
    int width = 0;
    for (const QString& text : texts) {
        panel.setText(text);
        width = std::max(width, panel.sizeHint().width());
    }
    panel.clear();
    return width;
}
} // namespace

PanelStatusBar::PanelStatusBar(QWidget* parent) : QStatusBar(parent)
{
    setObjectName(QStringLiteral("StatusBar1"));
    setSizeGripEnabled(true);
    for (int i = 0; i < panelCount; ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i + 1));
        // Named for what they hold: the link's panel would otherwise be read out as 29 blanks.
        label->setAccessibleName(QStringList{QStringLiteral("Estado da ligação"), QStringLiteral("Porta"), QStringLiteral("Data"), QStringLiteral("Hora")}[i]);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setMinimumWidth(twips(minimumPanelWidth));
        label->setTextFormat(Qt::PlainText);
        const int designWidth = twips(panelWidths[static_cast<std::size_t>(i)]);
        if (i == 0) {
            // The link's panel takes whatever width the window gives beyond the design, and
            // never less than its longest message: the window grows instead.
            label->setMinimumWidth(
                std::max(designWidth, widthFor(*label, {QString::fromStdString(openFailureText), QString::fromStdString(writeFailureText)})));
            addWidget(label, 1);
        } else {
            const QString widest = i == 1 ? QStringLiteral("COM8:") : i == 2 ? QStringLiteral("00-00-0000") : QStringLiteral("00:00");
            label->setFixedWidth(std::max(designWidth, widthFor(*label, {widest})));
            addPermanentWidget(label);
        }
        panels_[static_cast<std::size_t>(i)] = label;
    }
    countdown_ = new QLabel(this);
    countdown_->setObjectName(QStringLiteral("tempoRestante"));
    countdown_->setAccessibleName(QStringLiteral("Tempo restante do sinal"));
    countdown_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    countdown_->setTextFormat(Qt::PlainText);
    countdown_->hide();
    // Before the port, date and time, which stay where they always were.
    insertPermanentWidget(1, countdown_);
    countdownTick_.setInterval(250);
    connect(&countdownTick_, &QTimer::timeout, this, &PanelStatusBar::refreshCountdown);
    clock_.setSingleShot(true);
    clock_.setTimerType(Qt::CoarseTimer);
    connect(&clock_, &QTimer::timeout, this, &PanelStatusBar::refreshClock);
    refreshClock();
}

void PanelStatusBar::showTimedSign(const QString& sign, const QDateTime& ends)
{
    timedSign_ = sign;
    timedSignEnds_ = ends;
    refreshCountdown();
}

void PanelStatusBar::refreshCountdown()
{
    const qint64 ms = timedSignEnds_.isValid() ? QDateTime::currentDateTimeUtc().msecsTo(timedSignEnds_) : -1;
    if (ms < 0) {
        countdownTick_.stop();
        countdown_->hide();
        return;
    }
    countdown_->setText(QStringLiteral("%1: %2 s").arg(timedSign_).arg((ms + 999) / 1000));
    countdown_->show();
    if (!countdownTick_.isActive()) countdownTick_.start();
}

void PanelStatusBar::refreshClock()
{
    const QDateTime now = QDateTime::currentDateTime();
    panels_[2]->setText(now.toString(QStringLiteral("dd-MM-yyyy")));
    panels_[3]->setText(now.toString(QStringLiteral("HH:mm")));
    // Wake once a minute, just after it turns, rather than polling.
    const QTime t = now.time();
    const int msToNextMinute = 60'000 - (t.second() * 1000 + t.msec()) + 50;
    clock_.start(msToNextMinute);
}

void PanelStatusBar::setPanelText(int panel, const std::string& text)
{
    if (panel < 1 || panel > 2) return;
    const auto index = static_cast<std::size_t>(panel - 1);
    texts_[index] = QString::fromStdString(text);
    // A panel is one line high: the line feed of a two-line message shows as a blank.
    QString shown = texts_[index];
    shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
    panels_[index]->setText(shown);
}

void PanelStatusBar::setPanelToolTip(int panel, const std::string& toolTip)
{
    if (panel < 1 || panel > panelCount) return;
    toolTips_[static_cast<std::size_t>(panel - 1)] = QString::fromStdString(toolTip);
    showToolTip(panel);
}

void PanelStatusBar::setPanelNote(int panel, const QString& note)
{
    if (panel < 1 || panel > panelCount) return;
    notes_[static_cast<std::size_t>(panel - 1)] = note;
    showToolTip(panel);
}

void PanelStatusBar::showToolTip(int panel)
{
    const auto index = static_cast<std::size_t>(panel - 1);
    QStringList parts{toolTips_[index], notes_[index]};
    parts.removeAll(QString());
    QLabel* label = panels_[index];
    label->setToolTip(parts.join(QStringLiteral("\n\n")));
    // The reason reaches a keyboard or screen-reader user too, not only the mouse.
    label->setAccessibleDescription(label->toolTip());
}

QString PanelStatusBar::panelText(int panel) const
{
    if (panel < 1 || panel > panelCount) return {};
    if (panel > 2) return panels_[static_cast<std::size_t>(panel - 1)]->text();
    return texts_[static_cast<std::size_t>(panel - 1)];
}

QLabel& PanelStatusBar::panel(int panel) const { return *panels_.at(static_cast<std::size_t>(panel - 1)); }
