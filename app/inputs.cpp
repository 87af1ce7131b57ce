// The operator's numbers, checked before a command builds its frame: a refused field sends
// nothing and says, in an information box, which field it was and what it takes.
#include "mainwindow.h"

#include "inputcheck.h"

#include <algorithm>

#include <QLabel>
#include <QLineEdit>

bool MainWindow::inputAccepted(const QLineEdit *edit, const QLabel *caption, Input::Kind kind)
{
    if (Input::accepted(kind, edit->text()))
        return true;

    const QString name = captionInSentence(caption->text());
    const Input::Range range = Input::range(kind);
    const QString lowest = QString::number(range.minimum, range.base);
    const QString highest = QString::number(range.maximum, range.base);
    const QString takes = range.base == 16
        ? tr("\"%1\" takes a hexadecimal number from %2 to %3.").arg(name, lowest, highest)
        : tr("\"%1\" takes a whole number from %2 to %3.").arg(name, lowest, highest);
    const QString typed = edit->text().trimmed().isEmpty() ? tr("The field is empty.")
                                                          : tr("\"%1\" is not one.").arg(edit->text());
    openBox(tr("Information"), takes + QLatin1Char(' ') + typed + QLatin1Char(' ') + tr("Nothing was sent."));
    return false;
}

bool MainWindow::thresholdsAccepted(const CheckedField &high, const CheckedField &low)
{
    const int highValue = Input::accepted(high.kind, high.edit->text()).value_or(0);
    const int lowValue = Input::accepted(low.kind, low.edit->text()).value_or(0);
    if (Input::thresholdsOrdered(highValue, lowValue))
        return true;
    openBox(tr("Information"), tr(R"("%1" must be above "%2": %3 is not above %4. Nothing was sent.)")
                                   .arg(captionInSentence(high.caption->text()), captionInSentence(low.caption->text()))
                                   .arg(highValue)
                                   .arg(lowValue));
    return false;
}

QString MainWindow::captionInSentence(const QString &caption)
{
    // A caption's own name ends at its colon (plain or full-width); what follows it is a prefix
    // or unit for the field ("ModbusAddr： 0x").
    QString name = caption.trimmed();
    const auto isColon = [](QChar c) { return c == QLatin1Char(':') || c == QChar(0xFF1A); };
    const int colon = int(std::find_if(name.cbegin(), name.cend(), isColon) - name.cbegin());
    if (colon > 0 && colon < name.size())
        name.truncate(colon);
    return name.trimmed();
}
