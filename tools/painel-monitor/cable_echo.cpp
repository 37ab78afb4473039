// SPDX-License-Identifier: GPL-3.0-or-later
#include "cable_echo.h"

#include <algorithm>
#include <utility>

void CableEcho::setCut(bool cut)
{
    if (std::exchange(cut_, cut) == cut) return;
    emit changed(cut ? QStringLiteral("cabo cortado: nada volta") : QStringLiteral("cabo ligado de novo: tudo volta"));
}

void CableEcho::garbleNext()
{
    garble_ = true;
    emit changed(QStringLiteral("o próximo byte volta trocado"));
}

QByteArray CableEcho::respond(const QByteArray& received)
{
    if (cut_) return {};
    QByteArray back = received;
    if (cutAfter_ > 0) {
        const std::size_t room = cutAfter_ - std::min(cutAfter_, echoed_);
        if (static_cast<std::size_t>(back.size()) >= room) {
            back.truncate(static_cast<qsizetype>(room));
            echoed_ += room;
            setCut(true);
            return back;
        }
    }
    echoed_ += static_cast<std::size_t>(back.size());
    if (garble_ && !back.isEmpty()) {
        back[0] = static_cast<char>(~back[0]);
        garble_ = false;
    }
    return back;
}
