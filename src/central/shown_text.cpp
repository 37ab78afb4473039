// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/shown_text.h"

#include <QList>

bool isVisible(uint c)
{
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned: return false;
    default: return true;
    }
}

QString shownText(const QString& field, qsizetype chars)
{
    QString value;
    qsizetype count = 0;
    for (const uint c : field.toUcs4()) {
        if (count++ == chars) break;
        const QChar::Category category = QChar::category(c);
        const bool drawn = category != QChar::Other_Control && category != QChar::Other_Format && category != QChar::Other_Surrogate
                           && category != QChar::Other_NotAssigned && category != QChar::Separator_Line && category != QChar::Separator_Paragraph;
        const auto code = static_cast<char32_t>(c);
        value += drawn ? QString::fromUcs4(&code, 1) : QStringLiteral(" ");
    }
    return value;
}
