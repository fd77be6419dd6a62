// URL parsing, request building and Base64 on any text.
#include "FuzzSupport.h"

#include "fetch/Base64.h"
#include "fetch/HttpRequest.h"

BILDFANG_FUZZ_TARGET(FuzzRequest)
{
    FuzzInput in(data, size);
    const QString text = FuzzText(in.rest());
    const bool latin1 = AllLatin1(text);

    // Base64: the standard length, and it decodes back to the characters as bytes.
    const std::optional<QString> encoded = Base64Encode(text);
    FUZZ_CHECK(encoded.has_value() == latin1);
    if (encoded)
        FUZZ_CHECK(encoded->size() == 4 * ((text.size() + 2) / 3)
                   && QByteArray::fromBase64(encoded->toLatin1(), QByteArray::AbortOnBase64DecodingErrors) == text.toLatin1());
    // A lone surrogate goes out as one "?".
    FUZZ_CHECK(latin1 ? ToWireBytes(text) == text.toLatin1() : ToWireBytes(text).size() >= text.size());

    const std::optional<UrlParts> url = ParseUrlParts(text);
    const QString authority = text.section(QLatin1Char('/'), 2, 2);
    if (!url) {
        // Refused only without "://", for a port beyond 32 bits or a control character that
        // would break the request's lines.
        const bool control = std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
        FUZZ_CHECK(!text.contains(QLatin1String("://")) || authority.contains(QLatin1Char(':')) || control);
        return 0;
    }
    FUZZ_CHECK(text.contains(QLatin1String("://")) && url->port >= 1 && url->path.startsWith(QLatin1Char('/')));
    FUZZ_CHECK(!url->host.contains(QLatin1Char('/')) && !url->host.contains(QLatin1Char(':')) && authority.contains(url->host));
    FUZZ_CHECK(QByteArray::fromBase64(url->auth.toLatin1()) == CredentialBytes(url->userInfo));
    FUZZ_CHECK(text.endsWith(url->path) || url->path == QLatin1String("/"));

    const QByteArray request = BuildRequest(*url);
    // The request line holds printable ASCII only, and decodes back to the path as UTF-8.
    const QByteArray target = RequestTarget(url->path);
    FUZZ_CHECK(request.startsWith("GET " + target + " HTTP/1.1\r\n"));
    FUZZ_CHECK(std::all_of(target.cbegin(), target.cend(), [](char c) { return c > 0x20 && c < 0x7F; }));
    FUZZ_CHECK(url->path.contains(QLatin1Char('%')) || QByteArray::fromPercentEncoding(target) == url->path.toUtf8());
    FUZZ_CHECK(request.contains("\r\nHost: " + ToWireBytes(url->host) + "\r\n"));
    FUZZ_CHECK(request.endsWith(url->userInfo.isEmpty() ? QByteArray("\r\nConnection: close\r\n\r\n")
                                                        : "\r\nAuthorization: Basic " + url->auth.toLatin1() + "\r\n\r\n"));
    // Without line breaks in the URL, the request has exactly its own lines.
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        FUZZ_CHECK(request.count("\r\n") == (url->userInfo.isEmpty() ? 5 : 6));
    return 0;
}
