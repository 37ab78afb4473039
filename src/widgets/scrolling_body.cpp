// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/scrolling_body.h"

#include <QDialog>
#include <QEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char* const bodyName = "body";

// The body is never squeezed below the height its wrapped lines need at the viewport's width,
// worked out again when the viewport's size or the body's texts change: the scroll area would
// otherwise give it only the viewport's height, cutting lines short.
class BodyHeight final : public QObject {
public:
    explicit BodyHeight(QScrollArea& scroll) : QObject(&scroll), scroll_(scroll) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if ((event->type() == QEvent::Resize && watched == scroll_.viewport()) || (event->type() == QEvent::LayoutRequest && watched == scroll_.widget())) {
            // Worked out for the width without a scroll bar when the body fits that way, so that a
            // bar shown for a moment does not stay for want of the width it took.
            QWidget* body = scroll_.widget();
            const QScrollBar* bar = scroll_.verticalScrollBar();
            const int full = scroll_.viewport()->width() + (bar->isVisible() ? bar->width() : 0);
            const int fits = body->layout()->totalHeightForWidth(full);
            body->setMinimumHeight(fits <= scroll_.viewport()->height() ? fits : body->layout()->totalHeightForWidth(full - bar->sizeHint().width()));
        }
        return false;
    }

private:
    QScrollArea& scroll_;
};

} // namespace

QVBoxLayout* scrollingBody(QDialog& dialog, QVBoxLayout& outer)
{
    auto* scroll = new QScrollArea(&dialog);
    scroll->setObjectName(QString::fromLatin1(bodyName));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins({});
    scroll->setWidget(content);
    auto* height = new BodyHeight(*scroll);
    scroll->viewport()->installEventFilter(height);
    content->installEventFilter(height);
    outer.addWidget(scroll, 1);
    return layout;
}

void fitBodyToScreen(QDialog& dialog, int width)
{
    auto* scroll = dialog.findChild<QScrollArea*>(QString::fromLatin1(bodyName), Qt::FindDirectChildrenOnly);
    QLayout* outer = dialog.layout();
    if (scroll == nullptr || outer == nullptr) return;
    // Worked out from the layouts' hints: a dialog not shown yet has no geometry to go by.
    const QMargins margins = outer->contentsMargins();
    const int bar = scroll->verticalScrollBar()->sizeHint().width();
    const QRect room = dialog.screen() != nullptr ? dialog.screen()->availableGeometry() : QRect();
    const QSize frame = dialog.frameGeometry().size() - dialog.size();
    // Never narrower than the body's widest line, with room for a scroll bar beside it.
    width = std::max(width, scroll->widget()->minimumSizeHint().width() + bar + margins.left() + margins.right());
    if (room.isValid()) width = std::min(width, room.width() - frame.width());
    // What is not the body (margins, the buttons, the style's spacing) is the outer layout's hint
    // less the scroll area's own.
    int height = outer->totalSizeHint().height() - scroll->sizeHint().height()
                 + scroll->widget()->layout()->totalHeightForWidth(width - margins.left() - margins.right() - bar);
    if (room.isValid()) height = std::min(height, room.height() - frame.height());
    dialog.resize(width, height);
    if (room.isValid() && !room.contains(dialog.frameGeometry()))
        dialog.move(std::clamp(dialog.x(), room.left(), std::max(room.left(), room.right() - dialog.frameGeometry().width())),
                    std::clamp(dialog.y(), room.top(), std::max(room.top(), room.bottom() - dialog.frameGeometry().height())));
}
