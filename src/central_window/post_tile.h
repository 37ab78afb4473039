// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/post_board.h"

#include <QFrame>

class PanelPreview;
class QLabel;

// One post on the control room's grid: its name and id, online or offline and for how long, its
// sign as a small matrix in its colours, how and when it was chosen, the last outcome and the
// answer to the last request. A post that failed or went offline says so in words and with a
// dashed border; a selected one has a thick one and says "selecionado".
class PostTile final : public QFrame {
    Q_OBJECT
public:
    static constexpr QSize tileSize{300, 176};

    explicit PostTile(const QString& id, QWidget* parent = nullptr);

    void showPost(const Post& post, bool selected);
    // The online or offline line again, as time passes.
    void showAge(const Post& post);
    // The sign's line again, as a sign's time runs out.
    void showSign(const Post& post);
    [[nodiscard]] bool troubled() const { return troubled_; }
    [[nodiscard]] bool selected() const { return selected_; }
    // The tile's lines, as the operator reads them.
    [[nodiscard]] QString text() const;

signals:
    // Clicked, Ctrl+click toggles; Space toggles too.
    void clicked(const QString& id, bool toggle);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString id_;
    QLabel* name_;
    QLabel* presence_;
    PanelPreview* matrix_;
    QLabel* sign_;
    QLabel* outcome_;
    QLabel* answer_;
    bool troubled_ = false;
    bool selected_ = false;
};

// "há 5 s", "há 3 min", "há 2 h", "há 4 dias".
[[nodiscard]] QString ageText(qint64 seconds);
// How a post's sign was chosen, from the journal's word for it.
[[nodiscard]] QString originWords(const QString& origin);
