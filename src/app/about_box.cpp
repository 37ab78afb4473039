// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/about_box.h"

#include "widgets/fonts.h"
#include "widgets/twips.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& geometry, const QFont& font)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(geometry);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

} // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Sobre ..."));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(twipsSize(5889, 2184));
    setModal(true);
    setAttribute(Qt::WA_DeleteOnClose, false);

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("OKButton"));
    okButton->setGeometry(twipsRect(4410, 1575, 1215, 375));
    okButton->setDefault(true);

    const QFont regular = tahoma(8.83);
    Label1 = label(this, "Label1", QStringLiteral("Controlo do painel sinalético"), twipsRect(210, 315, 5580, 330), tahoma(12.23, true));
    Label3 = label(this, "Label3", QStringLiteral("Autores: equipa do painel"), twipsRect(208, 1092, 3055, 273), regular);
    Label4 = label(this, "Label4", QStringLiteral("Maio de 2003"), twipsRect(210, 1785, 1380, 330), regular);
    Label5 = label(this, "Label5", QStringLiteral("Sinalização - Desenvolvimento"), twipsRect(208, 1456, 2977, 273), regular);

    connect(okButton, &QPushButton::clicked, this, &AboutBox::closeBox);
    okButton->setFocus();
}

void AboutBox::closeBox() { accept(); }

void AboutBox::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    okButton->setFocus();
}
