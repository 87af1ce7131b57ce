#include "hextext.h"

QString formatHexBytes(const quint8 *bytes, int count)
{
    static const char digits[] = "0123456789abcdef";
    QString text;
    if (count <= 0)
        return text;
    text.reserve(3 * count);
    for (int i = 0; i < count; ++i) {
        text.append(QLatin1Char(digits[bytes[i] >> 4]));
        text.append(QLatin1Char(digits[bytes[i] & 0x0F]));
        text.append(QLatin1Char(' '));
    }
    return text;
}

QString formatHexBytes(const QByteArray &bytes)
{
    return formatHexBytes(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size());
}

QString logHexBytes(const QByteArray &bytes, int shown)
{
    if (bytes.size() <= shown)
        return formatHexBytes(bytes);
    return formatHexBytes(bytes.left(shown)) + QStringLiteral("\u2026 (%1 more bytes)").arg(bytes.size() - shown);
}
