#include "virtual_panel.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

// Eight by eight round LEDs, drawn from the rows the monitor prints ("R . G Y ...").
class LedMatrix : public QWidget {
public:
    explicit LedMatrix(QWidget* parent = nullptr) : QWidget(parent)
    {
        setMinimumSize(200, 200);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        dots_.fill(QString(8, QLatin1Char('.')));
    }

    void setRows(const QStringList& rows)
    {
        for (std::size_t row = 0; row < dots_.size(); ++row) {
            QString dots;
            for (const QChar c : rows.value(static_cast<qsizetype>(row))) {
                if (c != QLatin1Char(' ')) dots += c;
            }
            dots_[row] = dots.leftJustified(8, QLatin1Char('.'), true);
        }
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
                painter.setBrush(colourOf(dots_[static_cast<std::size_t>(row)][column]));
                const QPointF centre = origin + QPointF((column + 0.5) * pitch, (row + 0.5) * pitch);
                painter.drawEllipse(centre, pitch * 0.4, pitch * 0.4);
            }
        }
    }

private:
    [[nodiscard]] static QColor colourOf(QChar dot)
    {
        switch (dot.toLatin1()) {
        case 'R': return Qt::red;
        case 'G': return Qt::green;
        case 'Y': return Qt::yellow;
        default: return QColor(0x40, 0x40, 0x40); // an LED that is off still shows
        }
    }

    std::array<QString, 8> dots_;
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

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(matrix_, 3);
    layout->addWidget(log_, 2);
    resize(520, 640);
}

void VirtualPanel::showMatrix(const QStringList& rows) { matrix_->setRows(rows); }

void VirtualPanel::appendLog(const QString& line) { log_->appendPlainText(line); }
