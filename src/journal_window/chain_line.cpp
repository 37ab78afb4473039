// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal_window/chain_line.h"

#include "journal/journal_chain.h"

#include <QThread>

#include <optional>
#include <utility>

ChainLine::ChainLine(QWidget* parent) : QLabel(QStringLiteral("A verificar a cadeia do registo…"), parent)
{
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
}

ChainLine::~ChainLine()
{
    if (checker_ == nullptr) return;
    stop_ = true;
    checker_->wait();
    delete checker_;
}

void ChainLine::checkAll(const QString& fileName)
{
    fileName_ = fileName;
    ++round_;
    checked_.reset();
    checkNew();
}

void ChainLine::checkNew()
{
    // One check at a time; what is written meanwhile is checked after it, on from its end.
    if (checker_ != nullptr) {
        checkAgain_ = true;
        return;
    }
    // A chain found broken, or not checked, stays as it was said.
    if (fileName_.isEmpty() || (checked_ && (checked_->brokenAt || !checked_->problem.isEmpty()))) return;
    const std::optional<ChainReport> after = checked_ ? std::optional(*checked_) : std::nullopt;
    checker_ = QThread::create([this, file = fileName_, after, round = round_] {
        const ChainReport report = checkJournalChain(file, &stop_, after ? &*after : nullptr);
        // Dropped with the line, if it is gone by then.
        QMetaObject::invokeMethod(
            this, [this, report, round] { show(report, round); }, Qt::QueuedConnection);
    });
    checker_->start();
}

void ChainLine::show(const ChainReport& report, int round)
{
    checker_->wait();
    delete std::exchange(checker_, nullptr);
    // A check begun before the file was looked at again says nothing of it now.
    if (round != round_) {
        checkAgain_ = false;
        return checkNew();
    }
    checked_ = std::make_unique<ChainReport>(report);
    if (std::exchange(checkAgain_, false)) checkNew();
    QString text;
    if (!report.problem.isEmpty()) text = QStringLiteral("A cadeia do registo não se pode verificar: %1.").arg(report.problem);
    else if (report.brokenAt)
        text = QStringLiteral("⚠ O registo foi alterado: a cadeia quebra-se na entrada %1 (%2): %3. As entradas mostram-se como estão no ficheiro.")
                   .arg(*report.brokenAt)
                   .arg(report.breakTime, report.breakText);
    else if (report.entries > 0)
        text = QStringLiteral("Cadeia do registo íntegra: %1 entradas, da %2 à %3; último elo %4")
                   .arg(report.entries)
                   .arg(report.firstId)
                   .arg(report.lastId)
                   .arg(QString::fromLatin1(report.lastLink));
    setText(text);
    setAccessibleDescription(text);
    setStyleSheet(report.brokenAt ? QStringLiteral("color: #b00000; font-weight: bold") : QString());
    setVisible(!text.isEmpty());
    emit checked();
}
