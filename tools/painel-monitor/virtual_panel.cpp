// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual_panel.h"

#include "cable_echo.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

// Eight by eight round LEDs.
class LedMatrix : public QWidget {
public:
    explicit LedMatrix(QWidget* parent = nullptr) : QWidget(parent)
    {
        setObjectName(QStringLiteral("matrix"));
        setAccessibleName(QStringLiteral("Matriz do painel"));
        setMinimumSize(200, 200);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

    void setMatrix(const Matrix& matrix)
    {
        dots_ = matrix;
        update();
    }
    void setSilent(bool silent)
    {
        silent_ = silent;
        update();
    }

    [[nodiscard]] QSize sizeHint() const override { return {320, 320}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
        const qreal pitch = std::min(width(), height()) / 8.0;
        const QPointF origin((width() - 8 * pitch) / 2, (height() - 8 * pitch) / 2);
        painter.setPen(Qt::NoPen);
        for (int row = 0; row < 8; ++row) {
            for (int column = 0; column < 8; ++column) {
                painter.setBrush(colourOf(dots_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)]));
                const QPointF centre = origin + QPointF((column + 0.5) * pitch, (row + 0.5) * pitch);
                painter.drawEllipse(centre, pitch * 0.4, pitch * 0.4);
            }
        }
        if (silent_) {
            // Dimmed, with the words over the dots: what it showed may no longer hold.
            painter.fillRect(rect(), QColor(0, 0, 0, 160));
            QFont big = font();
            big.setPixelSize(std::max(12, static_cast<int>(pitch)));
            big.setBold(true);
            painter.setFont(big);
            painter.setPen(Qt::white);
            painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("sem sinal"));
        }
    }

private:
    [[nodiscard]] static QColor colourOf(Dot dot)
    {
        switch (dot) {
        case Dot::Red: return Qt::red;
        case Dot::Green: return Qt::green;
        case Dot::Yellow: return Qt::yellow;
        case Dot::Off: break;
        }
        return {0x40, 0x40, 0x40}; // an LED that is off still shows
    }

    Matrix dots_{};
    bool silent_ = false;
};

VirtualPanel::VirtualPanel(const QString& line, QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Painel virtual — %1").arg(line));
    matrix_ = new LedMatrix(this);
    log_ = new QPlainTextEdit(this);
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(5000);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    age_ = new QLabel(this);
    age_->setObjectName(QStringLiteral("age"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(matrix_, 3);
    layout->addWidget(age_);
    layout->addWidget(log_, 2);
    resize(520, 640);
}

void VirtualPanel::controlEcho(CableEcho& echo)
{
    auto* row = new QHBoxLayout;
    auto* cut = new QPushButton(QStringLiteral("&Cortar o cabo"), this);
    cut->setObjectName(QStringLiteral("cutCable"));
    cut->setCheckable(true);
    auto* garble = new QPushButton(QStringLiteral("&Trocar um byte"), this);
    garble->setObjectName(QStringLiteral("garbleByte"));
    connect(cut, &QPushButton::toggled, &echo, &CableEcho::setCut);
    connect(&echo, &CableEcho::changed, cut, [cut, &echo] { cut->setChecked(echo.isCut()); });
    connect(garble, &QPushButton::clicked, &echo, &CableEcho::garbleNext);
    row->addWidget(new QLabel(QStringLiteral("Eco do cabo:"), this));
    row->addWidget(cut);
    row->addWidget(garble);
    row->addStretch();
    static_cast<QVBoxLayout*>(layout())->insertLayout(2, row);
}

void VirtualPanel::showMatrix(const Matrix& matrix) { matrix_->setMatrix(matrix); }

void VirtualPanel::appendLog(const QString& line) { log_->appendPlainText(line); }

void VirtualPanel::showAge(std::optional<double> seconds)
{
    age_->setText(seconds ? QStringLiteral("Última trama válida há %1 s").arg(*seconds, 0, 'f', 0) : QStringLiteral("Ainda nenhuma trama válida"));
}

void VirtualPanel::showSilence(bool silent) { matrix_->setSilent(silent); }
