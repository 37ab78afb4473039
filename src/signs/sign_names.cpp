// SPDX-License-Identifier: GPL-3.0-or-later
#include "signs/sign_names.h"

namespace {

// Case-folded, accents dropped: what two spellings of one name have in common.
QString folded(const QString& text)
{
    QString plain;
    for (const QChar c : text.trimmed().normalized(QString::NormalizationForm_D))
        if (c.category() != QChar::Mark_NonSpacing) plain += c;
    return plain.toCaseFolded();
}

} // namespace

std::optional<Sign> signFromName(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.size() == 1 && trimmed.front() >= u'0' && trimmed.front() <= u'9') return signAtPlace(trimmed.front().unicode() - u'0');
    const QString wanted = folded(trimmed);
    for (const Sign kind : signsInScreenOrder)
        if (folded(signCaption(kind)) == wanted) return kind;
    return std::nullopt;
}

std::optional<Sign> signAtPlace(int place)
{
    if (place < 1 || place > static_cast<int>(signsInScreenOrder.size())) return std::nullopt;
    return signsInScreenOrder[static_cast<std::size_t>(place - 1)];
}

std::optional<Sign> signFromCaption(const QString& caption)
{
    for (const Sign kind : signsInScreenOrder)
        if (signCaption(kind) == caption) return kind;
    return std::nullopt;
}

QString signCaption(Sign kind)
{
    const SignDescription* sign = describeSign(kind);
    return sign == nullptr ? QString() : QString::fromUtf8(sign->caption);
}

QString notASignText(const QString& name)
{
    constexpr qsizetype echoed = 64;
    const QString shown = name.size() > echoed ? name.left(echoed) + QStringLiteral("…") : name;
    return QStringLiteral("\"%1\" não é um sinal: Parar, Frente, Esquerda, Direita, Xadrez ou 1 a 5").arg(shown);
}
