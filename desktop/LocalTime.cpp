#include "desktop/LocalTime.h"

#include <QDateTime>
#include <QLocale>

namespace {

// Qt's long time format names the time zone ("t"); a clock reading in a status line does
// not, so that token and the blanks around it are dropped. Quoted text is kept as it is.
QString LongTimeFormat()
{
    const QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        result += c;
    }
    return result.simplified();
}

} // namespace

QString LongTimeText(const QTime& time)
{
    return QLocale::system().toString(time, LongTimeFormat());
}

QString DateTimeText(const QDateTime& moment)
{
    const QLocale locale = QLocale::system();
    return locale.toString(moment.date(), QLocale::ShortFormat) + u' ' +
           LongTimeText(moment.time());
}

QString DateSeparator()
{
    const QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        else if (!quoted && !c.isLetter() && !c.isSpace())
            return QString(c);
    }
    return QStringLiteral("/");
}
