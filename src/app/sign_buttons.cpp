// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/sign_buttons.h"

#include "widgets/fonts.h"
#include "widgets/twips.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QRadioButton>
#include <QShortcut>

#include <algorithm>

namespace {

struct SignPlace {
    Sign sign;
    int top;
    int width;
    int height;
};

// Top to bottom, as they stand on the window; the Index is the sign's own number.
constexpr std::array<SignPlace, 5> signPlaces{{
    {Sign::Stop, 270, 2145, 533},
    {Sign::Ahead, 855, 2041, 481},
    {Sign::Left, 1395, 2041, 429},
    {Sign::Right, 1890, 2041, 429},
    {Sign::Chequer, 2430, 2041, 429},
}};

// A class of its own, so that its accessible interface below is found before Qt's, which
// serves every QRadioButton. It also knows how its click came, for the journal.
class SignButton final : public QRadioButton {
    Q_OBJECT
public:
    using QRadioButton::QRadioButton;

    void clickFrom(Origin origin)
    {
        origin_ = origin;
        click();
        origin_ = Origin::Mouse;
    }
    [[nodiscard]] Origin origin() const { return origin_; }

protected:
    // Space clicks on its release.
    void keyReleaseEvent(QKeyEvent* event) override
    {
        origin_ = Origin::Keyboard;
        QRadioButton::keyReleaseEvent(event);
        origin_ = Origin::Mouse;
    }

private:
    Origin origin_ = Origin::Mouse;
};

// A sign button to assistive technology: choosing it ("Press" or "Toggle") is a click, so the
// sign is sent, once. Qt's own radio button only toggles, which chooses without sending.
class SignButtonAccessible final : public QAccessibleWidget {
public:
    explicit SignButtonAccessible(SignButton* button) : QAccessibleWidget(button, QAccessible::RadioButton) {}

    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        return s;
    }
    [[nodiscard]] QStringList actionNames() const override { return QStringList{pressAction(), toggleAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString& name) override
    {
        if (name == pressAction() || name == toggleAction()) {
            if (button()->isEnabled()) button()->clickFrom(Origin::Accessibility);
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    [[nodiscard]] SignButton* button() const { return static_cast<SignButton*>(widget()); }
};

// A key held down repeats, and each repeat would send its sign again, each a journal entry and
// an MQTT message, at the keyboard's rate. Only the first press of a sign key counts. A repeat
// is a press Qt marks so, or one with the very time of the release just before it: X sends a
// held key as release-press pairs of one time, which Qt cannot always tell from real presses.
// ShortcutOverride comes before the keys 1 to 5 reach their shortcuts: accepting it keeps a
// repeat from them, and the press that follows is dropped.
class HeldKeys final : public QObject {
public:
    explicit HeldKeys(QWidget& window) : QObject(&window), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || widget->window() != &window_) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (!isSignKey(key->key())) return false;
        if (type == QEvent::KeyRelease) {
            lastRelease_ = {key->key(), key->timestamp()};
            return false;
        }
        const bool repeat = key->isAutoRepeat() || (key->timestamp() != 0 && lastRelease_ == std::pair{key->key(), key->timestamp()});
        if (!repeat) return false;
        event->accept();
        return type == QEvent::KeyPress;
    }

private:
    static bool isSignKey(int key) { return (key >= Qt::Key_1 && key <= Qt::Key_5) || key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter; }

    QWidget& window_;
    std::pair<int, quint64> lastRelease_{0, 0};
};

QAccessibleInterface* signButtonAccessible(const QString& className, QObject* object)
{
    auto* button = qobject_cast<SignButton*>(object);
    if (className != QLatin1String("SignButton") || button == nullptr) return nullptr;
    return new SignButtonAccessible(button);
}

} // namespace

SignButtons::SignButtons(QWidget& window) : QGroupBox(&window)
{
    static const bool accessibleSigns = (QAccessible::installFactory(signButtonAccessible), true);
    Q_UNUSED(accessibleSigns);
    setObjectName(QStringLiteral("Frame1"));
    setAccessibleName(QStringLiteral("Sinal"));
    setGeometry(twipsRect(180, 315, 2445, 3075));
    group_ = new QButtonGroup(this);
    group_->setExclusive(true);
    for (std::size_t row = 0; row < signPlaces.size(); ++row) {
        const SignPlace& b = signPlaces[row];
        const QString caption = QString::fromUtf8(describeSign(b.sign)->caption);
        const int key = static_cast<int>(row) + 1;
        auto* button = new SignButton(caption, this);
        button->setObjectName(QStringLiteral("Option1_%1").arg(signIndex(b.sign)));
        button->setAccessibleName(caption);
        button->setToolTip(QStringLiteral("Tecla %1").arg(key));
        button->installEventFilter(this);
        // The keys 1 to 5, on the main row or the keypad, choose and send the sign at once.
        auto* shortcut = new QShortcut(QKeySequence(Qt::Key_0 + key), &window);
        connect(shortcut, &QShortcut::activated, button, [button] { button->clickFrom(Origin::Keyboard); });
        button->setGeometry(twipsRect(225, b.top, b.width, b.height));
        button->setFont(tahoma(12.23));
        group_->addButton(button, signIndex(b.sign));
        buttons_[row] = button;
    }
    button(Sign::Stop).setChecked(true);
    qApp->installEventFilter(new HeldKeys(window));
    connect(group_, &QButtonGroup::idClicked, this,
            [this](int id) { emit signChosen(static_cast<Sign>(id), static_cast<SignButton*>(group_->button(id))->origin()); });
}

QRadioButton& SignButtons::button(Sign kind) const { return *static_cast<QRadioButton*>(group_->button(signIndex(kind))); }

// Up and Down (and Left and Right) only move the focus among the sign buttons: sending every
// sign passed on the way would show false signs on the panel. Space, Enter or a click send.
bool SignButtons::eventFilter(QObject* watched, QEvent* event)
{
    const auto found = std::find(buttons_.begin(), buttons_.end(), watched);
    if (found == buttons_.end() || event->type() != QEvent::KeyPress) return QGroupBox::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const auto row = static_cast<int>(found - buttons_.begin());
    const int count = static_cast<int>(buttons_.size());
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left: buttons_[static_cast<std::size_t>((row + count - 1) % count)]->setFocus(Qt::OtherFocusReason); return true;
    case Qt::Key_Down:
    case Qt::Key_Right: buttons_[static_cast<std::size_t>((row + 1) % count)]->setFocus(Qt::OtherFocusReason); return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: static_cast<SignButton*>(*found)->clickFrom(Origin::Keyboard); return true;
    default: return QGroupBox::eventFilter(watched, event);
    }
}

#include "sign_buttons.moc"
