// Host names to text and back without loss (declared in FileSystem.h).
// Qt's own conversion replaces bytes that are not UTF-8 with U+FFFD, after
// which the file cannot be opened under its name any more.

#include "platform/FileSystem.h"

namespace vz::hostfs {

namespace {

constexpr char16_t EscapeBase = 0xDC00;  // + the byte (0x80..0xFF)

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at `s` (1 to 4) and its code point,
// or 0 when the bytes there are no valid sequence: overlong forms,
// surrogates and code points past U+10FFFF are not valid.
int validSequence(const unsigned char* s, qsizetype available, char32_t& codePoint)
{
    const unsigned char b = s[0];
    if (b < 0x80) {
        codePoint = b;
        return 1;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        if (available < 2 || !isContinuation(s[1]))
            return 0;
        codePoint = (char32_t(b & 0x1F) << 6) | (s[1] & 0x3F);
        return 2;
    }
    if (b >= 0xE0 && b <= 0xEF) {
        if (available < 3 || !isContinuation(s[1]) || !isContinuation(s[2]))
            return 0;
        if ((b == 0xE0 && s[1] < 0xA0) || (b == 0xED && s[1] > 0x9F))
            return 0;  // overlong, or a surrogate
        codePoint = (char32_t(b & 0x0F) << 12) | (char32_t(s[1] & 0x3F) << 6) | (s[2] & 0x3F);
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (available < 4 || !isContinuation(s[1]) || !isContinuation(s[2]) || !isContinuation(s[3]))
            return 0;
        if ((b == 0xF0 && s[1] < 0x90) || (b == 0xF4 && s[1] > 0x8F))
            return 0;  // overlong, or past U+10FFFF
        codePoint = (char32_t(b & 0x07) << 18) | (char32_t(s[1] & 0x3F) << 12) | (char32_t(s[2] & 0x3F) << 6) |
                    (s[3] & 0x3F);
        return 4;
    }
    return 0;
}

bool isEscape(char16_t c) { return c >= EscapeBase + 0x80 && c <= EscapeBase + 0xFF; }

}  // namespace

QString decodeName(const char* bytes, qsizetype length)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes);
    qsizetype i = 0;
    while (i < length && s[i] < 0x80)
        ++i;
    if (i == length)
        return QString::fromLatin1(bytes, length);

    // UTF-16 never needs more units than the name has bytes.
    QString out(length, Qt::Uninitialized);
    char16_t* begin = reinterpret_cast<char16_t*>(out.data());
    char16_t* d = begin;
    for (qsizetype k = 0; k < i; ++k)
        *d++ = s[k];
    while (i < length) {
        char32_t codePoint = 0;
        const int n = validSequence(s + i, length - i, codePoint);
        if (n == 0) {
            *d++ = char16_t(EscapeBase + s[i]);
            ++i;
            continue;
        }
        if (codePoint >= 0x10000) {
            *d++ = char16_t(0xD800 + ((codePoint - 0x10000) >> 10));
            *d++ = char16_t(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        } else {
            *d++ = char16_t(codePoint);
        }
        i += n;
    }
    out.truncate(d - begin);
    return out;
}

QString decodeName(const QByteArray& bytes) { return decodeName(bytes.constData(), bytes.size()); }

QByteArray encodeName(const QString& hostPath)
{
    const qsizetype n = hostPath.size();
    const char16_t* s = reinterpret_cast<const char16_t*>(hostPath.constData());
    qsizetype i = 0;
    while (i < n && s[i] < 0x80)
        ++i;
    if (i == n)
        return hostPath.toLatin1();

    QByteArray out(n * 3, Qt::Uninitialized);
    auto* begin = reinterpret_cast<unsigned char*>(out.data());
    unsigned char* d = begin;
    for (qsizetype k = 0; k < i; ++k)
        *d++ = static_cast<unsigned char>(s[k]);
    for (; i < n; ++i) {
        const char16_t c = s[i];
        if (c < 0x80) {
            *d++ = static_cast<unsigned char>(c);
        } else if (c < 0x800) {
            *d++ = static_cast<unsigned char>(0xC0 | (c >> 6));
            *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(s[i + 1])) {
            const char32_t codePoint = QChar::surrogateToUcs4(c, s[i + 1]);
            ++i;
            *d++ = static_cast<unsigned char>(0xF0 | (codePoint >> 18));
            *d++ = static_cast<unsigned char>(0x80 | ((codePoint >> 12) & 0x3F));
            *d++ = static_cast<unsigned char>(0x80 | ((codePoint >> 6) & 0x3F));
            *d++ = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
        } else if (isEscape(c)) {
            *d++ = static_cast<unsigned char>(c - EscapeBase);
        } else if (QChar::isSurrogate(c)) {
            // A lone surrogate that no host name decodes to: U+FFFD, as Qt writes it.
            *d++ = 0xEF;
            *d++ = 0xBF;
            *d++ = 0xBD;
        } else {
            *d++ = static_cast<unsigned char>(0xE0 | (c >> 12));
            *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
    }
    out.truncate(d - begin);
    return out;
}

bool holdsRawBytes(const QString& name)
{
    const qsizetype n = name.size();
    const char16_t* s = reinterpret_cast<const char16_t*>(name.constData());
    for (qsizetype i = 0; i < n; ++i) {
        if (QChar::isHighSurrogate(s[i]) && i + 1 < n && QChar::isLowSurrogate(s[i + 1]))
            ++i;  // a pair is one valid character
        else if (isEscape(s[i]))
            return true;
    }
    return false;
}

}  // namespace vz::hostfs
