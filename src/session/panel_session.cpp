// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/panel_session.h"

#include "serial/port_devices.h"
#include "settings/preferences_file.h"
#include "settings/setting_names.h"
#include "signs/sign_names.h"

#include <algorithm>

namespace {
QString statusPortText(std::int16_t comPort) { return comName(comPort) + QLatin1Char(':'); }
} // namespace

PanelSession::PanelSession(SerialPort& port, StatusLine& status, SignView& view, QString preferencesFile, Journal* journal, QObject* parent)
    : QObject(parent),
      preferencesFile_(std::move(preferencesFile)),
      journal_(journal),
      status_(status),
      line_(port, status),
      commands_(port),
      control_(line_, commands_, view, settings_)
{
    control_.setJournal(journal_);
    // The journal writes the ports as the operator knows them, and the device each opens.
    if (journal_ != nullptr) journal_->namePorts(&portAndDevice);
    connect(&control_, &PanelControl::signSent, this, [this](Sign kind, Origin origin, const QString& request, const Exchange& x) {
        if (origin == Origin::KeepAlive) return;
        if (x.reachedPanel()) shown_ = kind;
        else if (x.outcome != SendOutcome::NotOpened) shown_.reset();
        if (sending_.durationSeconds > 0 && x.outcome == SendOutcome::Sent) {
            timedSignEnds_ = QDateTime::currentDateTimeUtc().addSecs(sending_.durationSeconds);
            durationTimer_.start(std::chrono::seconds(std::min(sending_.durationSeconds, maxDurationSeconds)));
        }
        // The lamp test puts the sign back, and leaves its time running.
        lastChoice_ =
            Choice{kind,   origin,         x.outcome,      x.outcome == SendOutcome::Sent ? x.echoReason : x.reason, request, x.echoOn ? x.echo : Echo::Off,
                   shown_, sending_.cause, timedSignEnds()};
        emit signChosen(*lastChoice_);
    });
    connect(&control_, &PanelControl::lineStateChanged, this, &PanelSession::lineStateChanged);
    connect(&control_, &PanelControl::echoChanged, this, &PanelSession::echoChanged);
    durationTimer_.setSingleShot(true);
    durationTimer_.setTimerType(Qt::PreciseTimer);
    connect(&durationTimer_, &QTimer::timeout, this, [this] {
        const Sign ended = chosenSign();
        (void)chooseSign(more_.baseSign, Origin::DurationEnd, {}, {}, {0, QStringLiteral("fim do tempo de %1").arg(signCaption(ended))});
    });
    // Said where the operator looks when something is wrong with the line.
    if (journal_ != nullptr) connect(journal_, &Journal::problemChanged, this, [this] { emit notesChanged(notes()); });
}

void PanelSession::load()
{
    readPreferences(settings_, preferencesToRead(preferencesFile_));
    more_ = readMoreSettings(moreSettingsPath(preferencesFile_), &moreProblems_);
    control_.setKeepAlive(more_.keepAliveSeconds);
    applyEcho();
    // Old entries go at every start-up.
    if (journal_ != nullptr) {
        journal_->setRetention(more_.retentionDays);
        journal_->setSizeLimit(more_.journalMaxMb);
    }
}

void PanelSession::start()
{
    if (std::exchange(started_, true)) return;
    showPort();
    line_.initSerial(lineBaud);
    (void)control_.initPanel();
    emit startUpSent();
}

SendOutcome PanelSession::chooseSign(Sign kind, Origin origin, const QString& request, const QString& sender, const Terms& terms)
{
    durationTimer_.stop();
    sending_ = terms;
    const SendOutcome outcome = control_.chooseSign(kind, origin, request, sender, terms.cause).outcome;
    sending_ = {};
    return outcome;
}

void PanelSession::setPreferences(const PanelSettings& settings)
{
    const PanelSettings before = std::exchange(settings_, settings);
    QStringList changes;
    if (before.comPort != settings_.comPort) changes << QStringLiteral("porta %1 → %2").arg(statusPortText(before.comPort), statusPortText(settings_.comPort));
    if (before.signalMode != settings_.signalMode) changes << QStringLiteral("modo %1 → %2").arg(modeName(before.signalMode), modeName(settings_.signalMode));
    if (before.signColour != settings_.signColour)
        changes << QStringLiteral("cor %1 → %2").arg(colourName(before.signColour), colourName(settings_.signColour));
    journalChange(QStringLiteral("preferências"), changes);
    showPort();
    // Sends nothing: the status line then says whether the chosen port opens.
    (void)control_.probeLine(Origin::Operator);
    emit preferencesChanged();
}

void PanelSession::setMoreSettings(const MoreSettings& settings)
{
    const MoreSettings before = std::exchange(more_, settings);
    moreProblems_.clear();
    control_.setKeepAlive(more_.keepAliveSeconds);
    QStringList changes;
    if (before.keepAliveSeconds != more_.keepAliveSeconds)
        changes << QStringLiteral("reenvio %1 s → %2 s").arg(before.keepAliveSeconds).arg(more_.keepAliveSeconds);
    if (before.retentionDays != more_.retentionDays) {
        changes << QStringLiteral("registo %1 → %2 dias").arg(before.retentionDays).arg(more_.retentionDays);
        if (journal_ != nullptr) journal_->setRetention(more_.retentionDays);
    }
    if (before.journalMaxMb != more_.journalMaxMb) {
        changes << QStringLiteral("registo até %1 → %2 MB").arg(before.journalMaxMb).arg(more_.journalMaxMb);
        if (journal_ != nullptr) journal_->setSizeLimit(more_.journalMaxMb);
    }
    for (std::size_t port = 0; port < more_.echo.size(); ++port)
        if (before.echo[port] != more_.echo[port])
            changes << QStringLiteral("eco do cabo em COM%1 %2 → %3")
                           .arg(port + 1)
                           .arg(before.echo[port] ? QStringLiteral("ligado") : QStringLiteral("desligado"),
                                more_.echo[port] ? QStringLiteral("ligado") : QStringLiteral("desligado"));
    applyEcho();
    const auto onLost = [](const MoreSettings& m) {
        return m.onCentralLost == MoreSettings::OnCentralLost::Stop ? QStringLiteral("Parar após %1 s").arg(m.safeDelaySeconds) : QStringLiteral("manter");
    };
    if (onLost(before) != onLost(more_)) changes << QStringLiteral("ao perder a central %1 → %2").arg(onLost(before), onLost(more_));
    if (before.baseSign != more_.baseSign)
        changes << QStringLiteral("sinal no fim de uma duração %1 → %2").arg(signCaption(before.baseSign), signCaption(more_.baseSign));
    if (before.mqtt != more_.mqtt) {
        changes << QStringLiteral("MQTT %1 → %2")
                       .arg(before.mqtt.enabled() ? before.mqtt.host : QStringLiteral("desligado"),
                            more_.mqtt.enabled() ? more_.mqtt.host : QStringLiteral("desligado"));
        emit mqttSettingsChanged();
    }
    journalChange(QStringLiteral("mais opções"), changes);
}

std::optional<QString> PanelSession::setEcho(std::int16_t port, bool on)
{
    if (auto problem = writeEchoSetting(port, on, moreSettingsPath(preferencesFile_))) return problem;
    MoreSettings changed = more_;
    changed.echo.at(static_cast<std::size_t>(port - 1)) = on;
    // The file's other lines are as they were, and so is what was wrong with them.
    const QStringList problems = moreProblems_;
    setMoreSettings(changed);
    moreProblems_ = problems;
    return std::nullopt;
}

void PanelSession::applyEcho()
{
    for (std::size_t port = 0; port < more_.echo.size(); ++port) line_.setEcho(static_cast<std::int16_t>(port + 1), more_.echo[port]);
}

void PanelSession::setMqttNote(const QString& note)
{
    if (std::exchange(mqttNote_, note) != note) emit notesChanged(notes());
}

QString PanelSession::notes() const
{
    QStringList notes{journal_ != nullptr ? journal_->problem() : QString(), mqttNote_};
    notes.removeAll(QString());
    return notes.join(QStringLiteral("\n"));
}

void PanelSession::journalChange(const QString& action, const QStringList& changes)
{
    if (journal_ == nullptr || changes.isEmpty()) return;
    JournalEntry e;
    e.origin = Origin::Operator;
    e.action = action;
    e.port = settings_.comPort;
    e.outcome = QStringLiteral("alterado");
    e.detail = changes.join(QStringLiteral("; "));
    journal_->record(std::move(e));
}

void PanelSession::showPort() { status_.setPanelText(2, statusPortText(settings_.comPort).toStdString()); }
