// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/post_board.h"
#include "signs/sign_table.h"

#include <QMainWindow>
#include <QTimer>

#include <map>
#include <memory>
#include <set>

class JournalWindow;
class TimelineWindow;
class PostTile;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QScrollArea;

// The control room's window: every post as a tile, ordered by name; the operator selects posts
// (click, Ctrl+click, "Todos") and sends them a sign with the five buttons or the keys 1 to 5;
// "Parar em todos", or Escape, stops every post at once. At a site's size, the tiles shown are
// narrowed by a name or id typed in "Procurar" and by a group, which "Parar no grupo" stops. The
// summary line and each tile then say how the request was answered.
class CentralWindow final : public QMainWindow {
    Q_OBJECT
public:
    CentralWindow(PostBoard& board, Journal* journal, QWidget* parent = nullptr);
    ~CentralWindow() override;

    [[nodiscard]] PostTile* tile(const QString& id) const;
    [[nodiscard]] QPushButton& signButton(Sign sign) const { return *signButtons_.at(signIndex(sign)); }
    [[nodiscard]] QPushButton& stopAllButton() const { return *stopAll_; }
    [[nodiscard]] const std::set<QString>& selection() const { return selected_; }
    // The broker's state, in the status bar; while there is no connection, a warning above the
    // tiles says that what they show may be out of date.
    void setLinkStatus(const QString& status, bool connected);
    // The broker lets anybody speak for a post: said in red in the status bar while it does.
    void setOpenBroker(bool open);
    // Every tile's lines, top to bottom, for checks and for the operator's screen reader.
    [[nodiscard]] QString summaryText() const;

signals:
    void optionsRequested();
    // The operator confirmed that these posts go, with what the broker keeps of them.
    void forgetRequested(const QStringList& ids);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void select(const QString& id, bool toggle);
    void selectAll(bool all);
    void send(Sign sign);
    void stopAll();
    void stopGroup();
    // Whether the post is among the tiles shown: the search and the group let it through.
    [[nodiscard]] bool shown(const Post& post) const;
    // The groups offered, as the posts `ids` tell them, the one chosen kept.
    void showGroups(const QStringList& ids);
    // Tiles made and removed, and the ones shown placed in order, as many a row as fit.
    void arrange();
    void refresh();
    void showCounts();
    void showJournal();
    void showTimeline();
    void removeAbsent();

    PostBoard& board_;
    Journal* journal_;
    std::array<QPushButton*, signCount> signButtons_{};
    QPushButton* stopAll_ = nullptr;
    QSpinBox* duration_ = nullptr;
    QLineEdit* search_ = nullptr;
    QComboBox* group_ = nullptr;
    QPushButton* stopGroup_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* stale_ = nullptr;
    QLabel* linkStatus_ = nullptr;
    QLabel* openBroker_ = nullptr;
    QLabel* counts_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* grid_ = nullptr;
    QGridLayout* gridLayout_ = nullptr;
    std::map<QString, PostTile*> tiles_;
    std::set<QString> selected_;
    std::set<QString> dirty_;     // posts whose tiles wait for the next refresh
    bool arrangePending_ = false; // posts came or went since the last arrangement
    QTimer refresh_;              // a burst of messages redraws once
    QTimer ages_;                 // "há 3 min" moves on
    QTimer countdowns_;           // a sign's time runs out
    std::unique_ptr<JournalWindow> journalWindow_;
    std::unique_ptr<TimelineWindow> timelineWindow_;
};
