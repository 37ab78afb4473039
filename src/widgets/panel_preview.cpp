// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/panel_preview.h"

#include "widgets/twips.h"

#include <QPaintEvent>
#include <QPainter>

#include <cmath>
#include <map>
#include <tuple>

namespace {

constexpr qreal dotRadius = 100;
constexpr qreal firstCentre = 350;
constexpr qreal pitch = 325;
// Each dot is outlined in its own colour, one pixel wide: the same as a disc half a pixel
// larger, which fills without the cost of stroking an outline.
constexpr qreal paintedRadius = dotRadius + twipsPerPixel / 2.0;

QColor toQColor(ColourCode c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

// Line 0 is the rightmost column, bit 0 the top row.
QPointF dotCentre(std::size_t line, std::size_t bit) { return {firstCentre + pitch * qreal(7 - line), firstCentre + pitch * qreal(bit)}; }

} // namespace

PanelPreview::PanelPreview(QWidget* parent, int sideTwips) : QWidget(parent), zoom_(qreal(sideTwips) / sizeTwips)
{
    setFixedSize(twipsSize(sideTwips, sideTwips));
    // The image covers the whole widget, so Qt need not erase underneath it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (auto& line : matrix_) line.fill(previewBackground);
    render();
    setAccessibleName(QStringLiteral("Pré-visualização do painel"));
}

void PanelPreview::setDescription(const QString& text)
{
    description_ = text;
    setAccessibleDescription(text);
    if (!stale_) setToolTip(text);
}

void PanelPreview::markStale(const QString& note)
{
    stale_ = true;
    setToolTip(note);
    update();
}

void PanelPreview::clearStale()
{
    if (!stale_) return;
    stale_ = false;
    setToolTip(description_);
    update();
}

void PanelPreview::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void PanelPreview::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void PanelPreview::draw(const DotMatrix& dots)
{
    // Dark dots take the colour the surface has now, not the one it was created with.
    for (std::size_t line = 0; line < 8; ++line)
        for (std::size_t bit = 0; bit < 8; ++bit) matrix_[line][bit] = dots[line][bit] == darkDot ? previewBackground : dots[line][bit];
    render();
    update();
}

void PanelPreview::drawPattern(const SignPattern& pattern) { draw(dotsOf(pattern)); }

void PanelPreview::drawPatternMono(const SignPattern& pattern, ColourCode colour, std::int16_t plane) { draw(dotsOfMono(pattern, colour, plane)); }

// The dots lie a whole number of pixels from the corner of their stamps, so a copied stamp
// shows exactly what painting the disc there would. Stamps do not overlap: a dot's rim is far
// from its neighbours'.
const PanelPreview::Stamp& PanelPreview::stamp(std::size_t line, std::size_t bit, ColourCode colour, qreal ratio) const
{
    static std::map<std::tuple<qreal, ColourCode, std::size_t, std::size_t>, Stamp> stamps;
    const qreal scale = ratio * zoom_ / twipsPerPixel;
    auto [found, made] = stamps.try_emplace({scale, colour, line, bit});
    if (!made) return found->second;
    const QPointF centre = dotCentre(line, bit) * scale;
    const qreal radius = paintedRadius * scale;
    const QPoint corner(int(std::floor(centre.x() - radius)) - 1, int(std::floor(centre.y() - radius)) - 1);
    const int side = int(std::ceil(2 * radius)) + 3;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(toQColor(previewBackground));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(toQColor(colour));
    painter.translate(-corner);
    painter.scale(scale, scale);
    painter.drawEllipse(dotCentre(line, bit), paintedRadius, paintedRadius);
    painter.end();
    // A copy: the painted image would keep its paint engine, many times the stamp's size.
    found->second = {corner, image.copy()};
    return found->second;
}

void PanelPreview::render()
{
    const qreal ratio = devicePixelRatioF();
    QImage image(size() * ratio, QImage::Format_RGB32);
    // Every draw puts all 64 dots on a clean background, so none keeps the anti-aliased rim of
    // the dot it replaces; a dot of the background's colour is the background.
    image.fill(toQColor(previewBackground));
    QPainter painter(&image);
    for (std::size_t line = 0; line < 8; ++line)
        for (std::size_t bit = 0; bit < 8; ++bit)
            if (matrix_[line][bit] != previewBackground) {
                const Stamp& dot = stamp(line, bit, matrix_[line][bit], ratio);
                painter.drawImage(dot.at, dot.image);
            }
    painter.end();
    image.setDevicePixelRatio(ratio);
    image_ = std::move(image);
}

void PanelPreview::paintEvent(QPaintEvent* event)
{
    // Moved to a screen of another density: paint the same matrix again at the new one.
    if (image_.devicePixelRatio() != devicePixelRatioF()) render();
    QPainter painter(this);
    painter.setClipRect(event->rect());
    painter.drawImage(QPoint(0, 0), image_);
    // Drawn over the picture, not into it: the image stays what the panel was told to show.
    if (stale_) {
        for (const auto& [colour, offset] : {std::pair{Qt::black, 0}, std::pair{Qt::white, 4}}) {
            QPen dashes(colour, 3, Qt::CustomDashLine);
            dashes.setDashPattern({4.0 / 3, 4.0 / 3});
            dashes.setDashOffset(offset / 3.0);
            painter.setPen(dashes);
            painter.drawRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
        }
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRect(QRectF(rect()).adjusted(5, 5, -5, -5));
    }
}
