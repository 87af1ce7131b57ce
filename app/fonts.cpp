#include "fonts.h"

#include <QApplication>
#include <QFont>
#include <QStringList>

void installFormFonts()
{
    // Noto Sans CJK SC comes with fonts-noto-cjk, which the set-up installs; the others are
    // fallbacks for machines set up otherwise.
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"),
                               {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC"),
                                QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback")});
    QApplication::setFont(QFont(QStringLiteral("微软雅黑"), 9));
}
