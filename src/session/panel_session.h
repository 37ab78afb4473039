// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "control/panel_control.h"
#include "journal/journal.h"
#include "panel/panel_commands.h"
#include "panel/panel_line.h"
#include "settings/more_settings.h"
#include "settings/panel_settings.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <optional>

class SerialPort;
class SignView;
class StatusLine;

// What else a choice may carry: how long the sign stands before the base sign ([posto]
// sinal_base) takes its place (0: until another is chosen), and why the post chose it by itself
// (its safe state, a time that ran out).
struct ChoiceTerms {
    int durationSeconds = 0;
    QString cause;
};

// The panel's state and everything that changes it: the settings and their files, the line and
// its commands, the control of the panel with its animation, lamp test and keep-alive, and the
// journal. Whoever chooses a sign (the window, the keyboard, D-Bus, MQTT, a post without a
// screen) asks it here, and learns what happened from its signals alone.
class PanelSession final : public QObject {
    Q_OBJECT
public:
    static constexpr std::int32_t lineBaud = 9600;

    // `status` and `view` show the line and the sign; they outlive the session. Every action is
    // journaled in `journal`, when there is one.
    PanelSession(SerialPort& port, StatusLine& status, SignView& view, QString preferencesFile, Journal* journal = nullptr, QObject* parent = nullptr);

    // Reads pref.vyr and painel-sinaletico.conf, and applies what they set.
    void load();
    // Sets the line up and sends the panel its start-up sequence; the first call only.
    void start();
    [[nodiscard]] bool started() const { return started_; }

    static constexpr int maxDurationSeconds = 86'400;
    using Terms = ChoiceTerms;
    // The sign goes out as a click sends it, however it was chosen; the same sign again is sent
    // again. `request` is the id of the remote request it answers, if any, and `sender` the label
    // its sender gave. Any choice ends the time of one chosen for a while; a sign that did not go
    // out is given none.
    SendOutcome chooseSign(Sign kind, Origin origin, const QString& request = {}, const QString& sender = {}, const Terms& terms = {});
    // When the sign chosen for a while gives way to the base sign, by this computer's clock; null
    // while no sign has a time.
    [[nodiscard]] QDateTime timedSignEnds() const { return durationTimer_.isActive() ? timedSignEnds_ : QDateTime(); }
    void startLampTest() { control_.startLampTest(); }
    // Escape: a running lamp test ends at once and the chosen sign is put back.
    void stopLampTest() { control_.stopLampTest(); }
    [[nodiscard]] bool lampTestRunning() const { return control_.lampTestRunning(); }
    // The keep-alive's interval in effect, 0 when it is off.
    [[nodiscard]] int keepAliveSeconds() const { return control_.keepAlive().isActive() ? control_.keepAlive().seconds() : 0; }

    // The preferences as the dialog left them (it has written the file): the changes are
    // journaled and the chosen port is tried, sending nothing.
    void setPreferences(const PanelSettings& settings);
    // The further settings as "Mais opções" accepted and wrote them.
    void setMoreSettings(const MoreSettings& settings);
    // Port `port`'s cable echo, written to painel-sinaletico.conf (that line alone) and applied;
    // nullopt, or why the file could not be written (and nothing changed).
    [[nodiscard]] std::optional<QString> setEcho(std::int16_t port, bool on);

    [[nodiscard]] const PanelSettings& settings() const { return settings_; }
    [[nodiscard]] const MoreSettings& moreSettings() const { return more_; }
    // What reading painel-sinaletico.conf met, until the settings are next accepted.
    [[nodiscard]] const QStringList& moreSettingsProblems() const { return moreProblems_; }
    [[nodiscard]] const QString& preferencesFile() const { return preferencesFile_; }
    [[nodiscard]] Journal* journal() const { return journal_; }

    // The sign last chosen, which the lamp test and the keep-alive put back.
    [[nodiscard]] Sign chosenSign() const { return control_.chosenSign(); }
    // How the last exchange with the panel left the line.
    [[nodiscard]] LineState lineState() const { return control_.lineState(); }
    // How the cable's echo came back on the last send; off while the port's echo is.
    [[nodiscard]] Echo echo() const { return line_.echoOn(settings_.comPort) ? control_.echo() : Echo::Off; }
    // Port n's last failure, and when, for the operator to look up later.
    [[nodiscard]] std::optional<LineFailure> lastFailure(std::int16_t port) const { return line_.lastFailure(port); }

    // A sign chosen other than by the keep-alive, which only repeats it, and how it went.
    struct Choice {
        Sign sign = Sign::Stop;
        Origin origin = Origin::Startup;
        SendOutcome outcome = SendOutcome::Sent;
        QString reason;        // why the send failed, or why its echo is no proof
        QString request;       // the remote request it answers; empty for any other choice
        Echo echo = Echo::Off; // how the cable's echo came back, when the send went out
        // What the panel shows since, as far as the post can tell: the sign once it went out
        // whole with its proof; what it showed before when the port did not open; unknown after a
        // send cut short or one whose echo did not prove it.
        std::optional<Sign> shown;
        QString cause;    // why the post chose it by itself
        QDateTime endsAt; // when its time runs out; null when it has none
    };
    [[nodiscard]] const std::optional<Choice>& lastChoice() const { return lastChoice_; }

    // The broker's state in the operator's words, for the standing note.
    void setMqttNote(const QString& note);
    [[nodiscard]] const QString& mqttNote() const { return mqttNote_; }
    // The standing note: the journal's trouble and the broker's state, a line each.
    [[nodiscard]] QString notes() const;

signals:
    // The start-up sequence is out (or has failed): what the start-up did not need may begin.
    void startUpSent();
    // Every sign chosen, the start-up's included, once its port is closed: what, by whom, for
    // which request, and how it went. The keep-alive's resends only repeat it, and say nothing.
    void signChosen(const PanelSession::Choice& choice);
    void lineStateChanged(LineState state);
    void echoChanged(Echo echo);
    void notesChanged(const QString& notes);
    // The dialog changed pref.vyr's settings.
    void preferencesChanged();
    // "Mais opções" changed the broker's settings.
    void mqttSettingsChanged();

private:
    void journalChange(const QString& action, const QStringList& changes);
    void showPort();
    // The cable's echo of each port, as the settings have it.
    void applyEcho();

    QString preferencesFile_;
    Journal* journal_;
    StatusLine& status_;
    PanelSettings settings_;
    MoreSettings more_;
    QStringList moreProblems_;
    QString mqttNote_;
    PanelLine line_;
    PanelCommands commands_;
    PanelControl control_;
    std::optional<Choice> lastChoice_;
    // The terms of the choice being sent, for its Choice.
    Terms sending_;
    QTimer durationTimer_;
    QDateTime timedSignEnds_;
    std::optional<Sign> shown_;
    bool started_ = false;
};
