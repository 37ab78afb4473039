// SPDX-License-Identifier: GPL-3.0-or-later
#include "wire_monitor.h"

#include <cstdio>
#include <span>
#include <utility>

namespace {

// A sender writes a whole action back to back: at 9600 baud a byte takes about a millisecond.
// A silence this long inside a frame means the frame was cut off, and what comes next is a new
// frame rather than the missing bytes; it also brings out stray bytes that no prefix follows.
constexpr int quietMs = 200;

} // namespace

WireMonitor::WireMonitor(QObject* parent) : QObject(parent)
{
    clock_.start();
    quiet_.setSingleShot(true);
    quiet_.setInterval(quietMs);
    connect(&quiet_, &QTimer::timeout, this, [this] { report(decoder_.flush(), lastArrivalMs_); });
    silence_.setSingleShot(true);
    // A coarse timer may fire 5 % early, and the panel would be called silent too soon.
    silence_.setTimerType(Qt::PreciseTimer);
    connect(&silence_, &QTimer::timeout, this, &WireMonitor::announceSilence);
}

void WireMonitor::setSilenceLimit(double seconds)
{
    silence_.setInterval(static_cast<int>(seconds * 1000));
    if (seconds > 0) silence_.start();
    else silence_.stop();
}

double WireMonitor::secondsSinceValidFrame() const { return (static_cast<double>(clock_.nsecsElapsed()) / 1e6 - lastValidMs_) / 1000.0; }

void WireMonitor::note(const QString& text)
{
    const QString line = QStringLiteral("%1  %2").arg(static_cast<double>(clock_.nsecsElapsed()) / 1e6, 0, 'f', 3).arg(text);
    print(line);
    emit logged(line);
}

void WireMonitor::announceSilence()
{
    silent_ = true;
    note(QStringLiteral("sem sinal: nenhuma trama válida há %1 s").arg(secondsSinceValidFrame(), 0, 'f', 1));
    emit silenceChanged(true);
}

void WireMonitor::take(const QByteArray& bytes)
{
    lastArrivalMs_ = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
    const auto data = std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    report(decoder_.feed(data), lastArrivalMs_);
    quiet_.start();
}

void WireMonitor::finish()
{
    quiet_.stop();
    report(decoder_.flush(), lastArrivalMs_);
}

void WireMonitor::report(const std::vector<WireEvent>& events, double atMs)
{
    for (const WireEvent& event : events) {
        if (event.kind == WireEvent::Kind::Frame) {
            lastValidMs_ = atMs;
            seenValidFrame_ = true;
            if (silence_.interval() > 0) silence_.start();
            if (std::exchange(silent_, false)) emit silenceChanged(false);
        }
        // Two blanks between the fields, as the meaning may itself hold a number.
        const QString line =
            QStringLiteral("%1  %2  %3").arg(atMs, 0, 'f', 3).arg(QString::fromStdString(hexBytes(event.bytes)), QString::fromStdString(event.meaning));
        print(line);
        emit logged(line);
        if (!event.matrix) continue;
        // Top row first, each dot R, G, Y or "." (off), single blanks between them.
        for (const auto& row : *event.matrix) {
            QString text;
            for (const Dot dot : row) {
                if (!text.isEmpty()) text += QLatin1Char(' ');
                text += QLatin1Char(".RGY"[static_cast<int>(dot)]);
            }
            print(text);
        }
        emit matrixShown(*event.matrix);
    }
}

void WireMonitor::print(const QString& line)
{
    const QByteArray text = line.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
    std::fflush(stdout);
}
