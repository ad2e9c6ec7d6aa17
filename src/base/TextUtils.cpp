#include "TextUtils.h"

#include <QRegularExpression>

QString CommafyNumber(long long n)
{
    if (n <= 0)
        return QString();
    QString digits = QString::number(n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return digits;
}

std::string FormatSeconds(long seconds)
{
    const long hours = seconds / 3600;
    const long days = hours / 24;
    std::string text;
    if (days != 0)
        text += std::to_string(days) + "d";
    if (days != 0 || hours % 24 != 0)
        text += std::to_string(hours % 24) + "h";
    text += std::to_string((seconds / 60) % 60) + "m";
    text += std::to_string(seconds % 60) + "s";
    return text;
}

QString EscapeHTML(const QString& text)
{
    // Ampersands first, or the entities inserted below would be escaped again.
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    escaped.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    escaped.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return escaped;
}

QString ConvertLinks(const QString& text)
{
    // The address may not end in punctuation, so a link at the end of a
    // sentence leaves the full stop or comma outside.
    static const QRegularExpression link(
        QStringLiteral(R"((\bhttps?://[-a-zA-Z0-9+&@#/%?=~_|!:,.;]*[a-zA-Z0-9+&@#/%=~_|]))"));
    QString converted = text;
    converted.replace(link, QStringLiteral(R"(<a href="\1">\1</a>)"));
    return converted;
}

bool GetBit(unsigned int value, int bit)
{
    if (bit < 1 || bit > 32)
        return false;
    return (value >> (bit - 1)) & 1u;
}
