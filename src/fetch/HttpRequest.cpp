#include "fetch/HttpRequest.h"

#include "util/Utils.h"

#include <QStringList>

#include <algorithm>


namespace {

// A control character would end the request line or start a header line of its own.
bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

} // namespace

std::optional<UrlParts> ParseUrlParts(const QString &strSource, UrlParts *taken)
{
    if (!strSource.contains(QLatin1String("://")))
        return std::nullopt;

    UrlParts url;
    url.tls = strSource.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    const QStringList parts = strSource.split(QLatin1Char('/'));
    QString authority = parts.at(2);

    const qsizetype at = authority.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        // Split before decoding: an encoded ":" belongs to the user or the password.
        const QString raw = authority.left(at);
        const qsizetype colon = raw.indexOf(QLatin1Char(':'));
        url.userInfo = PercentDecode(raw);
        url.user = PercentDecode(colon >= 0 ? raw.left(colon) : raw);
        url.password = colon >= 0 ? PercentDecode(raw.mid(colon + 1)) : QString();
        authority = authority.mid(at + 1);
        url.auth = QString::fromLatin1(CredentialBytes(url.userInfo).toBase64());
    }

    const qsizetype colon = authority.indexOf(QLatin1Char(':'));
    url.host = colon >= 0 ? authority.left(colon) : authority;
    if (hasControlCharacter(url.host))
        return std::nullopt;
    if (colon >= 0 && colon + 1 < authority.size()) {
        if (!RoundToInt32(LeadingNumber(authority.mid(colon + 1)), url.port)) {
            if (taken)
                *taken = url;
            return std::nullopt;
        }
    }
    if (url.port < 1)
        url.port = url.tls ? 443 : 80;

    if (parts.size() > 3)
        url.path = QLatin1Char('/') + parts.mid(3).join(QLatin1Char('/'));
    if (url.path.isEmpty())
        url.path = QStringLiteral("/");
    if (hasControlCharacter(url.path))
        return std::nullopt;
    return url;
}

QString PercentDecode(const QString &text)
{
    if (!text.contains(QLatin1Char('%')))
        return text;
    auto hex = [](QChar c) {
        const char16_t u = c.unicode();
        return u >= '0' && u <= '9' ? u - '0' : u >= 'a' && u <= 'f' ? u - 'a' + 10 : u >= 'A' && u <= 'F' ? u - 'A' + 10 : -1;
    };
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('%') && i + 2 < text.size() && hex(text.at(i + 1)) >= 0 && hex(text.at(i + 2)) >= 0) {
            out += QChar(char16_t(hex(text.at(i + 1)) * 16 + hex(text.at(i + 2))));
            i += 2;
        } else {
            out += text.at(i);
        }
    }
    return out;
}

QByteArray ToWireBytes(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        if (text.at(i).unicode() <= 255) {
            out.append(static_cast<char>(text.at(i).unicode()));
            ++i;
            continue;
        }
        // A run at once, so surrogate pairs stay together.
        qsizetype end = i;
        while (end < text.size() && text.at(end).unicode() > 255)
            ++end;
        out.append(QStringView(text).sliced(i, end - i).toUtf8());
        i = end;
    }
    return out;
}

QByteArray CredentialBytes(const QString &text, bool utf8)
{
    const bool oneByte = !utf8 && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xFF; });
    return oneByte ? text.toLatin1() : text.toUtf8();
}

QByteArray RequestTarget(const QString &path)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(path.size());
    for (const char byte : path.toUtf8()) {
        const auto u = static_cast<unsigned char>(byte);
        if (u > 0x20 && u < 0x7F) {
            out += byte;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 0xF];
        }
    }
    return out;
}

QByteArray BuildRequest(const UrlParts &url, const QByteArray &authorization, bool offerBasic)
{
    QByteArray request;
    request.reserve(128 + 3 * url.path.size() + url.host.size() + url.auth.size() + authorization.size());
    request += "GET " + RequestTarget(url.path) + " HTTP/1.1\r\n";
    request += "Accept: */*\r\n";
    request += "Host: " + ToWireBytes(url.host) + "\r\n";
    request += "Connection: close\r\n";
    if (!authorization.isEmpty())
        request += "Authorization: " + authorization + "\r\n";
    else if (offerBasic && !url.userInfo.isEmpty())
        request += "Authorization: Basic " + url.auth.toLatin1() + "\r\n";
    request += "\r\n";
    return request;
}

Redirect NextRedirect(const QString &url, const QString &location, int followed, int limit)
{
    if (location.isEmpty() || hasControlCharacter(location))
        return {};
    // The authority where ParseUrlParts finds it (after the second "/"), even in a URL whose
    // "://" comes later: the credentials and the host must be the ones it took.
    const QString authority = url.section(QLatin1Char('/'), 2, 2);
    const qsizetype at = authority.indexOf(QLatin1Char('@'));
    const QString userInfo = at >= 0 ? authority.left(at + 1) : QString();

    QString target;
    if (location.startsWith(QLatin1Char('/')) && !location.startsWith(QLatin1String("//"))) {
        target = url.section(QLatin1Char('/'), 0, 2) + location;
    } else {
        const std::optional<UrlParts> here = ParseUrlParts(url);
        const std::optional<UrlParts> next = ParseUrlParts(location);
        const bool known = location.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
            || location.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
        // Any "@" of its own, even with nothing before it: ours put in front would shift the host.
        const bool ownUserInfo = location.section(QLatin1Char('/'), 2, 2).contains(QLatin1Char('@'));
        if (!known || !here || !next || ownUserInfo || next->host.compare(here->host, Qt::CaseInsensitive) != 0)
            return {Redirect::Verdict::OtherHost, QString()};
        const qsizetype nextSchemeEnd = location.indexOf(QLatin1String("://"));
        target = location.left(nextSchemeEnd + 3) + userInfo + location.mid(nextSchemeEnd + 3);
    }
    // A "://" only after the authority: what is left in front of the path is no URL.
    if (!ParseUrlParts(target))
        return {};
    if (followed >= limit)
        return {Redirect::Verdict::TooMany, QString()};
    return {Redirect::Verdict::Follow, target};
}
