#pragma once
// Screen readers name a control after its label, without the mnemonic "&".
#include <QString>
#include <QWidget>

inline QString WithoutMnemonic(QString label)
{
    label.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    label.remove(QLatin1Char('&'));
    label.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return label;
}

inline void SetAccessibleLabel(QWidget* widget, const QString& label)
{
    widget->setAccessibleName(WithoutMnemonic(label));
}
