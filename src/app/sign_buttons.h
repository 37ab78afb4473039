// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal.h"
#include "signs/sign_table.h"

#include <QGroupBox>

#include <array>

class QButtonGroup;
class QRadioButton;

// signButtons_: the five sign buttons, group_(0) to group_(4), top to bottom as the window shows
// them. A click, Space or Enter on a button, the keys 1 to 5 anywhere in `window`, or assistive
// technology's "press" chooses its sign, once; the arrow keys only move among the buttons.
class SignButtons final : public QGroupBox {
    Q_OBJECT
public:
    explicit SignButtons(QWidget& window);

    [[nodiscard]] QRadioButton& button(Sign kind) const;
    // The buttons in screen order, for the window's tab order.
    [[nodiscard]] const std::array<QRadioButton*, 5>& inScreenOrder() const { return buttons_; }

signals:
    void signChosen(Sign kind, Origin origin);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QButtonGroup* group_ = nullptr;
    std::array<QRadioButton*, 5> buttons_{};
};
