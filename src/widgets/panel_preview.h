// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/sign_pattern.h"
#include "signs/dot_matrix.h"
#include "signs/sign_view.h"

#include <QImage>
#include <QWidget>

#include <array>
#include <cstdint>

// Picture1: the 8 x 8 matrix of coloured dots that mirrors what the panel was last told to show.
// Drawing works in twips on a 3000 x 3000 twip surface. What was drawn is kept in an image at
// the screen's pixel density, so covering and restoring the window shows it again.
class PanelPreview : public QWidget, public SignView {
public:
    static constexpr ColourCode previewBackground = 0x808080;
    static constexpr int sizeTwips = 3000;

    // `sideTwips`: the surface's side; the dots keep their places and sizes in proportion.
    explicit PanelPreview(QWidget* parent = nullptr, int sideTwips = sizeTwips);

    void drawPattern(const SignPattern& pattern) override;
    void drawPatternMono(const SignPattern& pattern, ColourCode colour, std::int16_t plane) override;

    // What the matrix shows, in words: its accessible description, and its tooltip while the
    // picture is current.
    void setDescription(const QString& text) override;
    // The picture is not what the panel shows, as a send failed since it was drawn: a dashed
    // border marks it, and `note` (when the last sign did go out) is the tooltip.
    void markStale(const QString& note) override;
    void clearStale() override;
    [[nodiscard]] bool isStale() const { return stale_; }

    // What the surface currently shows, at its device pixel ratio.
    [[nodiscard]] QImage image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void draw(const DotMatrix& dots);
    void render();
    // One dot in its colour on the background, and where it goes, in device pixels.
    struct Stamp {
        QPoint at;
        QImage image;
    };
    // Made once for each colour, place and scale, and shared by every preview: a redraw only
    // copies them.
    [[nodiscard]] const Stamp& stamp(std::size_t line, std::size_t bit, ColourCode colour, qreal ratio) const;

    QString description_;
    bool stale_ = false;
    DotMatrix matrix_{}; // every dot of the last draw, the dark ones in the background's colour
    QImage image_;
    qreal zoom_ = 1; // the side against the design's 3000 twips
};
