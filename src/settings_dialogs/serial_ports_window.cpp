// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_dialogs/serial_ports_window.h"

#include "journal/journal.h"
#include "panel/line_error.h"
#include "panel/panel_commands.h"
#include "panel/panel_line.h"
#include "serial/system_serial_port.h"
#include "widgets/scrolling_body.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// A label whose text the keyboard can reach and a screen reader can read.
QLabel* readableLabel(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    label->setFocusPolicy(Qt::StrongFocus);
    return label;
}

QPushButton* button(const QString& text, const QString& name, const QString& accessibleName, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAccessibleName(accessibleName);
    b->setAutoDefault(false);
    return b;
}

} // namespace

SerialPortsWindow::SerialPortsWindow(LastFailure lastFailure, QWidget* parent, QString stableFolder)
    : QDialog(parent), lastFailure_(std::move(lastFailure)), stableFolder_(std::move(stableFolder))
{
    setObjectName(QStringLiteral("SerialPortsWindow"));
    setWindowTitle(QStringLiteral("Portas série"));
    auto* outer = new QVBoxLayout(this);
    QVBoxLayout* layout = scrollingBody(*this, *outer);

    detectedPorts = new QTreeWidget(this);
    detectedPorts->setObjectName(QStringLiteral("detectedPorts"));
    detectedPorts->setAccessibleName(QStringLiteral("Portas série detectadas"));
    detectedPorts->setRootIsDecorated(false);
    detectedPorts->setHeaderLabels({QStringLiteral("Dispositivo"), QStringLiteral("Nome estável"), QStringLiteral("Descrição"), QStringLiteral("Fabricante"),
                                    QStringLiteral("Número de série")});
    detectedPorts->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto* detectedLabel = new QLabel(QStringLiteral("Portas série &detectadas:"), this);
    detectedLabel->setBuddy(detectedPorts);
    layout->addWidget(detectedLabel);
    layout->addWidget(detectedPorts, 1);
    detectedPorts->setSelectionMode(QAbstractItemView::SingleSelection);

    typedDevice = new QLineEdit(this);
    typedDevice->setObjectName(QStringLiteral("typedDevice"));
    typedDevice->setAccessibleName(QStringLiteral("Outro dispositivo"));
    typedDevice->setPlaceholderText(QStringLiteral("/dev/serial/by-id/…, /dev/ttyUSB0, /dev/pts/3"));
    auto* typed = new QFormLayout;
    typed->addRow(QStringLiteral("&Outro dispositivo:"), typedDevice);
    layout->addLayout(typed);
#ifdef Q_OS_WIN
    // COM1 and COM2 are the system's own ports there: no device to name, no stable names.
    typed->setRowVisible(typedDevice, false);
    detectedPorts->hideColumn(1);
#endif

    const std::array<std::array<QString, 4>, 2> captions{
        {{QStringLiteral("&Ligar a COM1"), QStringLiteral("&Remover a ligação"), QStringLiteral("&Testar"), QStringLiteral("E&co do cabo")},
         {QStringLiteral("Li&gar a COM2"), QStringLiteral("Re&mover a ligação"), QStringLiteral("T&estar"), QStringLiteral("Eco do ca&bo")}}};
    for (std::int16_t number = 1; number <= 2; ++number) {
        const auto n = static_cast<std::size_t>(number - 1);
        const QString com = comName(number);
        auto* box = new QGroupBox(com, this);
        box->setObjectName(QStringLiteral("com%1Box").arg(number));
        auto* rows = new QVBoxLayout(box);
        ports_[n].binding = readableLabel(QStringLiteral("com%1Binding").arg(number), box);
        ports_[n].binding->setAccessibleName(QStringLiteral("Ligação de %1").arg(com));
        ports_[n].failure = readableLabel(QStringLiteral("com%1Failure").arg(number), box);
        ports_[n].failure->setAccessibleName(QStringLiteral("Última falha de %1").arg(com));
        rows->addWidget(ports_[n].binding);
        rows->addWidget(ports_[n].failure);
        ports_[n].echo = new QCheckBox(captions[n][3], box);
        ports_[n].echo->setObjectName(QStringLiteral("echoCom%1").arg(number));
        ports_[n].echo->setAccessibleName(QStringLiteral("Eco do cabo de %1").arg(com));
        ports_[n].echo->setToolTip(QStringLiteral("Só com o cabo em laço no painel: cada envio é comparado com o que volta"));
        ports_[n].echo->setEnabled(false); // until the settings are known
        connect(ports_[n].echo, &QCheckBox::toggled, this, [this, number](bool on) { changeEcho(number, on); });
        rows->addWidget(ports_[n].echo);
        auto* buttons = new QHBoxLayout;
        auto* bindButton = button(captions[n][0], QStringLiteral("bindCom%1").arg(number), QStringLiteral("Ligar a %1").arg(com), box);
        auto* unbindButton = button(captions[n][1], QStringLiteral("unbindCom%1").arg(number), QStringLiteral("Remover a ligação de %1").arg(com), box);
        auto* testButton = button(captions[n][2], QStringLiteral("testCom%1").arg(number), QStringLiteral("Testar %1").arg(com), box);
        connect(bindButton, &QPushButton::clicked, this, [this, number] { bind(number); });
        connect(unbindButton, &QPushButton::clicked, this, [this, number] { unbind(number); });
        ports_[n].unbind = unbindButton;
        connect(testButton, &QPushButton::clicked, this, [this, number] { test(number); });
#ifdef Q_OS_WIN
        // Nor any binding to make or remove; the test stays.
        bindButton->hide();
        unbindButton->hide();
#endif
        buttons->addWidget(bindButton);
        buttons->addWidget(unbindButton);
        buttons->addStretch();
        buttons->addWidget(testButton);
        rows->addLayout(buttons);
        layout->addWidget(box);
    }

    message = readableLabel(QStringLiteral("message"), this);
    message->setAccessibleName(QStringLiteral("Resultado"));
    layout->addWidget(message);

    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    close->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Fechar"));
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    outer->addWidget(close);

    connect(&refresh_, &QTimer::timeout, this, &SerialPortsWindow::refresh);
    refresh_.start(refreshMs);
    refresh();
    detectedPorts->setMinimumHeight(detectedPorts->fontMetrics().height() * 4);
    fitBodyToScreen(*this, 760);
}

void SerialPortsWindow::setEcho(const std::array<bool, 2>& on, EchoChange change)
{
    changeEcho_ = {}; // the boxes are set, not changed
    for (std::size_t n = 0; n < ports_.size(); ++n) {
        ports_[n].echo->setChecked(on[n]);
        ports_[n].echo->setEnabled(true);
    }
    changeEcho_ = std::move(change);
}

void SerialPortsWindow::changeEcho(std::int16_t number, bool on)
{
    if (!changeEcho_) return;
    if (const auto problem = changeEcho_(number, on)) {
        QCheckBox* box = ports_[static_cast<std::size_t>(number - 1)].echo;
        const QSignalBlocker quiet(box);
        box->setChecked(!on);
        return say(*problem);
    }
    say(on ? QStringLiteral("%1 compara cada envio com o eco do cabo.").arg(comName(number))
           : QStringLiteral("%1 já não lê o eco do cabo.").arg(comName(number)));
}

void SerialPortsWindow::refresh()
{
    refreshDetected();
    refreshBindings();
}

void SerialPortsWindow::refreshDetected()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    QStringList shown;
    for (const QSerialPortInfo& p : ports) shown << p.systemLocation() + p.description() + p.serialNumber();
    // Rebuilt only when something changed, so the selection and the scroll stay put.
    if (shown == shownPorts_) return;
    shownPorts_ = shown;
    const QList<QTreeWidgetItem*> selected = detectedPorts->selectedItems();
    const QString kept = selected.isEmpty() ? QString() : selected.front()->text(0);
    detectedPorts->clear();
    for (const QSerialPortInfo& p : ports) {
        auto* item = new QTreeWidgetItem(
            detectedPorts, {p.systemLocation(), stableNameOf(p.systemLocation(), stableFolder_), p.description(), p.manufacturer(), p.serialNumber()});
        item->setSelected(item->text(0) == kept);
    }
}

void SerialPortsWindow::refreshBindings()
{
    for (std::int16_t number = 1; number <= 2; ++number) {
        const PortBinding b = portBinding(number);
        const bool isLink = !b.link.isEmpty() && QFileInfo(b.link).isSymLink();
        QString text;
        if (b.link.isEmpty()) text = QStringLiteral("Sem ligação: usa %1%2").arg(b.device, b.present ? QString() : QStringLiteral(", que não existe"));
        else if (!isLink) text = QStringLiteral("%1 não é uma ligação: COM%2 não abre enquanto lá estiver").arg(b.link).arg(number);
        else if (!b.present) text = QStringLiteral("Ligada a %1, que não existe (adaptador desligado?)").arg(b.target);
        else text = b.target == b.device ? QStringLiteral("Ligada a %1").arg(b.device) : QStringLiteral("Ligada a %1 (%2)").arg(b.target, b.device);
        // Removing the binding hands the port to a device of its own, on many machines some other
        // device: said before it is done.
        if (isLink) {
            const QString fallback = QStringLiteral("/dev/ttyS%1").arg(number - 1);
            text += QStringLiteral("\nSem a ligação, %1 usaria %2%3")
                        .arg(comName(number))
                        .arg(fallback, QFileInfo::exists(fallback) ? QString() : QStringLiteral(", que não existe"));
        }
        PortRow& row = ports_[static_cast<std::size_t>(number - 1)];
        row.unbind->setEnabled(isLink); // nothing to remove otherwise
        // The latest of the link's failure and the window's own test.
        std::optional<LineFailure> failure = lastFailure_ ? lastFailure_(number) : std::nullopt;
        if (row.tested && (!failure || row.tested->when > failure->when)) failure = row.tested;
        const QString failureText =
            failure ? QStringLiteral("Última falha, às %1: %2")
                          .arg(QDateTime::fromSecsSinceEpoch(std::chrono::duration_cast<std::chrono::seconds>(failure->when.time_since_epoch()).count())
                                   .toString(QStringLiteral("HH:mm:ss")),
                               QString::fromStdString(failure->reason))
                    : QStringLiteral("Sem falhas desde o arranque");
        bool changed = false;
        for (const auto& [label, wanted] : {std::pair{row.binding, text}, {row.failure, failureText}}) {
            if (label->text() == wanted) continue;
            label->setText(wanted);
            changed = true;
        }
        // Once the new texts have reached the layouts, which they do as events of their own.
        if (changed && isVisible()) QTimer::singleShot(0, this, &SerialPortsWindow::fitToText);
    }
}

void SerialPortsWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    fitToText();
}

void SerialPortsWindow::fitToText()
{
    // As wide as the longest word (a device's name), as far as the screen allows.
    int wider = 0;
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    for (const PortRow& row : ports_)
        for (const QLabel* label : {row.binding, row.failure})
            for (const QString& word : label->text().split(blanks, Qt::SkipEmptyParts))
                wider = std::max(wider, label->fontMetrics().horizontalAdvance(word) - label->contentsRect().width());
    fitBodyToScreen(*this, width() + std::max(0, wider));
}

QString SerialPortsWindow::chosenDevice() const
{
    if (!typedDevice->text().trimmed().isEmpty()) return typedDevice->text().trimmed();
    // Only a port the operator selected: the list's keyboard cursor alone does not count.
    const QList<QTreeWidgetItem*> selected = detectedPorts->selectedItems();
    return selected.isEmpty() ? QString() : selected.front()->text(0);
}

void SerialPortsWindow::say(const QString& text)
{
    message->setText(text);
    message->setAccessibleDescription(text);
    if (isVisible()) QTimer::singleShot(0, this, &SerialPortsWindow::fitToText);
}

void SerialPortsWindow::journal(std::int16_t number, const QString& action, const QString& target, const std::optional<QString>& failure)
{
    if (journal_ == nullptr) return;
    JournalEntry e;
    e.origin = Origin::Operator;
    e.action = action;
    e.port = number;
    e.outcome = failure ? QStringLiteral("recusado") : QStringLiteral("feito");
    e.reason = failure.value_or(QString());
    e.detail = target;
    e.failure = failure.has_value();
    journal_->record(std::move(e));
}

void SerialPortsWindow::bind(std::int16_t number)
{
    const QString device = chosenDevice();
    const auto failure = bindPort(number, device, stableFolder_);
    // Nothing chosen is the operator's slip, not a refusal worth the journal.
    if (device.trimmed().isEmpty()) return say(*failure);
    if (failure) say(*failure);
    else say(QStringLiteral("%1 ligada a %2.").arg(comName(number), portBinding(number).target));
    journal(number, QStringLiteral("ligação da porta"), failure ? device : portBinding(number).target, failure);
    refreshBindings();
}

void SerialPortsWindow::unbind(std::int16_t number)
{
    const PortBinding binding = portBinding(number);
    const QString before = binding.target;
    const auto failure = unbindPort(number);
    if (binding.link.isEmpty()) return say(*failure); // nothing bound: nothing was refused
    if (failure) say(*failure);
    else say(QStringLiteral("%1 já não tem ligação: usa %2.").arg(comName(number), deviceForPort(number)));
    journal(number, QStringLiteral("fim da ligação da porta"), before, failure);
    refreshBindings();
}

void SerialPortsWindow::test(std::int16_t number)
{
    // A port of its own, so the link's state and its status panel are left as they are.
    SystemSerialPort port;
    const bool echo = ports_[static_cast<std::size_t>(number - 1)].echo->isChecked();
    const QString com = QStringLiteral("%1 (%2)").arg(comName(number), deviceForPort(number));
    bool opened = false;
    try {
        port.setPortNumber(number);
        port.setEcho(echo);
        port.setOpen(true);
        opened = true;
        // display_on lights what the panel already shows: the one frame that proves the cable
        // and changes no sign.
        if (echo) PanelCommands(port).display_on();
        port.setOpen(false);
        if (!echo) return say(QStringLiteral("%1 abre e fecha sem erros. Nada foi enviado.").arg(com));
        const EchoCheck check = port.lastEcho();
        if (check.echo == Echo::Confirmed)
            return say(QStringLiteral("%1: o eco do cabo voltou. Enviado só display_on (%2 bytes), que não muda o sinal.").arg(com).arg(check.written));
        say(QStringLiteral("%1 abre e envia, mas %2. Enviado só display_on (%3 bytes), que não muda o sinal.")
                .arg(com, QString::fromStdString(PanelLine::echoReason(check, number)))
                .arg(check.written));
    } catch (const LineException& e) {
        say((opened ? QStringLiteral("%1 abre, mas não envia: %2") : QStringLiteral("%1 não abre: %2")).arg(comName(number), QString::fromStdString(e.what())));
        ports_[static_cast<std::size_t>(number - 1)].tested = LineFailure{e.what(), std::chrono::system_clock::now()};
        refreshBindings();
    }
}
