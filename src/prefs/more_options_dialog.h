#pragma once

#include "prefs/more_settings.h"

#include <QDialog>

class QLabel;
class QSpinBox;

// "Mais opções": the settings of painel-sinaletico.conf. OK applies and writes them; any other
// way of closing changes nothing. Problems met reading the file are shown at the top.
class MoreOptionsDialog final : public QDialog {
    Q_OBJECT
public:
    MoreOptionsDialog(MoreSettings& settings, QString fileName, const QStringList& problems, QWidget* parent = nullptr);

    void accept() override;

private:
    MoreSettings& settings_;
    QString fileName_;
    QSpinBox* keepAlive = nullptr;
    QSpinBox* retention = nullptr;
};
