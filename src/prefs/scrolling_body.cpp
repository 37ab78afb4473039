#include "prefs/scrolling_body.h"

#include <QDialog>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const char* const bodyName = "body";
}

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
