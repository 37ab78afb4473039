// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "signs/sign_table.h"

#include <QMainWindow>

#include <memory>

class AboutBox;
class JournalWindow;
class TimelineWindow;
class PanelPreview;
class PanelSession;
class PanelStatusBar;
class QRadioButton;
class SignButtons;

// Form1, the main window: the five sign buttons, the preview, the menu and the status bar. It
// shows the session and hands it the operator's choices.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    // The window takes `statusBar` and `preview`, which the session already draws on.
    MainWindow(const QString& caption, PanelSession& session, PanelStatusBar* statusBar, PanelPreview* preview, QWidget* parent = nullptr);
    ~MainWindow() override;

    void editPreferences();
    void editPortBindings();
    void editMoreOptions();
    void showJournal();
    void showTimeline();
    void showAbout();
    // Restored if minimised, raised and activated: another copy was started and refused.
    void comeForward();

    [[nodiscard]] PanelStatusBar& panelStatusBar() const { return *statusBar_; }
    [[nodiscard]] PanelPreview& preview() const { return *preview_; }
    [[nodiscard]] QRadioButton& signButton(Sign kind) const;
    [[nodiscard]] JournalWindow* journalWindow() const { return journalWindow_.get(); }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenu();
    // The panel is set up once the window is first active, or on screen without a window manager.
    void startPanel();

    PanelSession& session_;
    PanelStatusBar* statusBar_;
    PanelPreview* preview_;
    SignButtons* signButtons_ = nullptr;
    std::unique_ptr<JournalWindow> journalWindow_;
    std::unique_ptr<TimelineWindow> timelineWindow_;
    bool centred_ = false;
};
