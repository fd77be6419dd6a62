// The redirect rule on any Location value from any camera URL.
#include "FuzzSupport.h"

#include "fetch/HttpRequest.h"

BILDFANG_FUZZ_TARGET(FuzzRedirect)
{
    FuzzInput in(data, size);
    const int limit = in.byte() % 5;
    const QString base = FuzzText(in.field());
    const QString location = QString::fromLatin1(in.rest());   // header values are read as Latin-1
    const std::optional<UrlParts> from = ParseUrlParts(base);
    const auto hasControl = [](const QString &text) {
        return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    };
    const bool control = hasControl(location);
    if (!from) {   // never dispatched, so never redirected from
        NextRedirect(base, location, 0, limit);
        return 0;
    }

    // The same answer again and again: each hop goes to the same host, and the loop ends.
    QString url = base;
    int followed = 0;
    for (;; ++followed) {
        const Redirect next = NextRedirect(url, location, followed, limit);
        FUZZ_CHECK(next.verdict == Redirect::Verdict::Unusable || !(location.isEmpty() || control));
        FUZZ_CHECK(next.verdict != Redirect::Verdict::TooMany || followed >= limit);
        if (next.verdict != Redirect::Verdict::Follow) {
            FUZZ_CHECK(next.target.isEmpty());
            break;
        }
        FUZZ_CHECK(followed < limit);
        // Only the user's own URL may bring one (in its scheme, which never goes out).
        FUZZ_CHECK(!hasControl(next.target) || hasControl(base));
        const std::optional<UrlParts> to = ParseUrlParts(next.target);
        FUZZ_CHECK(to && to->host.compare(from->host, Qt::CaseInsensitive) == 0 && to->userInfo == from->userInfo);
        FUZZ_CHECK(next.target.size() <= base.size() + location.size());
        url = next.target;
    }
    FUZZ_CHECK(followed <= limit);
    // A path on the same authority is never taken for another host.
    if (location.startsWith(QLatin1Char('/')) && !location.startsWith(QLatin1String("//")))
        FUZZ_CHECK(followed == limit || control || !base.section(QLatin1Char('/'), 0, 2).contains(QLatin1String("://")));
    return 0;
}
