// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/more_settings.h"

#include <QGroupBox>

#include <optional>

class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QSpinBox;

// The [mqtt] settings as fields, for a post's "Mais opções" and the control room's: what the
// program would refuse is said beside the fields concerned, and nothing is taken until it is safe.
class MqttSettingsBox final : public QGroupBox {
    Q_OBJECT
public:
    // A post has a name for the control room and may announce itself to Home Assistant; the
    // control room has neither.
    enum class For { Post, ControlRoom };
    // `state`: how the broker stands now, shown at the top when given.
    MqttSettingsBox(const MqttSettings& settings, For who, const QString& state, QWidget* parent = nullptr);

    // The fields' settings once they are safe to use; nullopt, with the problems shown, otherwise.
    [[nodiscard]] std::optional<MqttSettings> accepted();

private:
    // What the fields say, unchecked.
    [[nodiscard]] MqttSettings fields() const;

    MqttSettings kept_; // what has no field here stays as it was
    QLineEdit* host_ = nullptr;
    QSpinBox* port_ = nullptr;
    QLineEdit* id_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* group_ = nullptr;
    QCheckBox* tls_ = nullptr;
    QLineEdit* caFile_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* passwordFile_ = nullptr;
    QCheckBox* plain_ = nullptr;
    QCheckBox* homeAssistant_ = nullptr;
    QLabel* problem_ = nullptr;         // why the broker or the id cannot be used
    QLabel* passwordProblem_ = nullptr; // why the password file may not be used
};
