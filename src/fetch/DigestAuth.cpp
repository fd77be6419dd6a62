#include "fetch/DigestAuth.h"

#include <QCryptographicHash>
#include <QList>
#include <QRandomGenerator>

#include <algorithm>
#include <utility>

namespace {

bool isTokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken68Char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || QByteArrayView("-._~+/").contains(c);
}

bool isControl(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

struct Challenge
{
    QByteArray scheme;
    QList<std::pair<QByteArray, QByteArray>> params;   // names in lower case
    const QByteArray *param(QByteArrayView name) const
    {
        for (const auto &p : params)
            if (p.first == name)
                return &p.second;
        return nullptr;
    }
};

// One header value: challenges, each a scheme with auth-params or a token68, separated by commas.
class ChallengeReader
{
public:
    explicit ChallengeReader(QByteArrayView s) : mS(s) {}

    bool read(QList<Challenge> &out)
    {
        for (;;) {
            skipSeparators();
            if (atEnd())
                return true;
            Challenge c;
            c.scheme = token().toByteArray().toLower();
            if (c.scheme.isEmpty())
                return false;
            skipBlanks();
            if (!atEnd() && peek() != ',' && !token68() && !params(c))
                return false;
            out.append(std::move(c));
        }
    }

private:
    bool atEnd() const { return mI >= mS.size(); }
    char peek() const { return mS.at(mI); }
    void skipBlanks()
    {
        while (!atEnd() && (peek() == ' ' || peek() == '\t'))
            ++mI;
    }
    void skipSeparators()
    {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == ','))
            ++mI;
    }
    QByteArrayView token()
    {
        const qsizetype from = mI;
        while (!atEnd() && isTokenChar(peek()))
            ++mI;
        return mS.sliced(from, mI - from);
    }
    // A token68 runs to the end of the challenge; otherwise nothing is taken.
    bool token68()
    {
        const qsizetype from = mI;
        while (!atEnd() && isToken68Char(peek()))
            ++mI;
        const bool some = mI > from;
        while (!atEnd() && peek() == '=')
            ++mI;
        skipBlanks();
        if (some && (atEnd() || peek() == ','))
            return true;
        mI = from;
        return false;
    }
    bool quoted(QByteArray &value)
    {
        ++mI;
        while (!atEnd()) {
            char c = peek();
            ++mI;
            if (c == '"')
                return true;
            if (c == '\\') {
                if (atEnd())
                    return false;
                c = peek();
                ++mI;
            }
            if (isControl(c) && c != '\t')
                return false;
            value += c;
        }
        return false;
    }
    // Auth-params up to the start of the next challenge (a token not followed by "=").
    bool params(Challenge &c)
    {
        for (;;) {
            skipSeparators();
            if (atEnd())
                return true;
            const qsizetype from = mI;
            const QByteArray name = token().toByteArray().toLower();
            skipBlanks();
            if (name.isEmpty())
                return false;
            if (atEnd() || peek() != '=') {
                mI = from;
                return !c.params.isEmpty();
            }
            ++mI;
            skipBlanks();
            QByteArray value;
            if (!atEnd() && peek() == '"') {
                if (!quoted(value))
                    return false;
            } else {
                value = token().toByteArray();
                if (value.isEmpty())
                    return false;
            }
            c.params.append({name, value});
            skipBlanks();
            if (!atEnd() && peek() != ',')
                return false;
        }
    }

    QByteArrayView mS;
    qsizetype mI = 0;
};

std::optional<DigestChallenge> answerable(const Challenge &c)
{
    const QByteArray *realm = c.param("realm");
    const QByteArray *nonce = c.param("nonce");
    if (!realm || !nonce)
        return std::nullopt;
    DigestChallenge d;
    d.realm = *realm;
    d.nonce = *nonce;
    if (const QByteArray *opaque = c.param("opaque")) {
        d.opaque = *opaque;
        d.hasOpaque = true;
    }
    if (const QByteArray *algorithm = c.param("algorithm")) {
        const QByteArray a = algorithm->toUpper();
        if (a == "MD5")
            d.algorithm = DigestChallenge::Algorithm::Md5;
        else if (a == "MD5-SESS")
            d.algorithm = DigestChallenge::Algorithm::Md5Sess;
        else if (a == "SHA-256")
            d.algorithm = DigestChallenge::Algorithm::Sha256;
        else if (a == "SHA-256-SESS")
            d.algorithm = DigestChallenge::Algorithm::Sha256Sess;
        else
            return std::nullopt;
    }
    if (const QByteArray *qop = c.param("qop")) {
        for (const QByteArray &option : qop->split(','))
            d.qopAuth = d.qopAuth || option.trimmed().toLower() == "auth";
        if (!d.qopAuth)
            return std::nullopt;   // auth-int alone
    }
    if (const QByteArray *stale = c.param("stale"))
        d.stale = stale->toLower() == "true";
    if (const QByteArray *charset = c.param("charset"))
        d.utf8 = charset->toUpper() == "UTF-8";
    return d;
}

QByteArray quote(const QByteArray &value)
{
    QByteArray out = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

} // namespace

bool IsUnauthorized(QByteArrayView headerBlock)
{
    // "HTTP/1.1 401 Unauthorized": the second field of the status line.
    qsizetype end = headerBlock.indexOf("\r\n");
    const QByteArrayView line = headerBlock.first(end < 0 ? headerBlock.size() : end);
    const qsizetype blank = line.indexOf(' ');
    if (blank < 0 || !line.startsWith("HTTP/"))
        return false;
    const QByteArrayView code = line.sliced(blank + 1).trimmed();
    return code.startsWith("401") && (code.size() == 3 || code.at(3) == ' ');
}

AuthChallenges ParseAuthChallenges(QByteArrayView headerBlock)
{
    // The WWW-Authenticate values, continuation lines (starting with a blank) joined on.
    QList<QByteArray> values;
    bool inAuthenticate = false;
    qsizetype start = headerBlock.indexOf("\r\n");   // past the status line
    while (start >= 0 && start < headerBlock.size()) {
        start += 2;
        qsizetype end = headerBlock.indexOf("\r\n", start);
        if (end < 0)
            end = headerBlock.size();
        const QByteArrayView line = headerBlock.sliced(start, end - start);
        start = end;
        if (!line.isEmpty() && (line.front() == ' ' || line.front() == '\t')) {
            if (inAuthenticate)
                values.last() += ' ' + line.trimmed().toByteArray();
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        inAuthenticate = colon >= 0 && line.first(colon).trimmed().compare("WWW-Authenticate", Qt::CaseInsensitive) == 0;
        if (inAuthenticate)
            values.append(line.sliced(colon + 1).toByteArray());
    }

    AuthChallenges result;
    bool malformed = false;
    QList<Challenge> all;
    for (const QByteArray &value : std::as_const(values))
        malformed = !ChallengeReader(value).read(all) || malformed;
    for (const Challenge &c : std::as_const(all)) {
        if (c.scheme == "basic") {
            result.basic = true;
            const QByteArray *charset = c.param("charset");
            result.basicUtf8 = result.basicUtf8 || (charset && charset->toUpper() == "UTF-8");
        }
        else if (c.scheme == "digest" && !result.digest && !malformed)
            result.digest = answerable(c);
    }
    return result;
}

QByteArray DigestAuthorization(const DigestChallenge &challenge, const QByteArray &user,
                               const QByteArray &password, QByteArrayView method, const QByteArray &uri,
                               quint32 nc, const QByteArray &cnonce)
{
    // Either would end the header line early or add one of the camera's choosing.
    if (std::any_of(user.cbegin(), user.cend(), isControl) || std::any_of(uri.cbegin(), uri.cend(), isControl))
        return QByteArray();
    using A = DigestChallenge::Algorithm;
    const bool sha = challenge.algorithm == A::Sha256 || challenge.algorithm == A::Sha256Sess;
    const bool sess = challenge.algorithm == A::Md5Sess || challenge.algorithm == A::Sha256Sess;
    const auto hash = [sha](const QByteArray &text) {
        return QCryptographicHash::hash(text, sha ? QCryptographicHash::Sha256 : QCryptographicHash::Md5).toHex();
    };
    QByteArray ha1 = hash(user + ':' + challenge.realm + ':' + password);
    if (sess)
        ha1 = hash(ha1 + ':' + challenge.nonce + ':' + cnonce);
    const QByteArray ha2 = hash(method.toByteArray() + ':' + uri);
    const QByteArray ncText = QByteArray::number(nc, 16).rightJustified(8, '0');
    const QByteArray response = challenge.qopAuth
        ? hash(ha1 + ':' + challenge.nonce + ':' + ncText + ':' + cnonce + ":auth:" + ha2)
        : hash(ha1 + ':' + challenge.nonce + ':' + ha2);

    static const char *const names[] = {"MD5", "MD5-sess", "SHA-256", "SHA-256-sess"};
    QByteArray out = "Digest username=" + quote(user) + ", realm=" + quote(challenge.realm) + ", uri="
        + quote(uri) + ", algorithm=" + names[int(challenge.algorithm)] + ", nonce=" + quote(challenge.nonce);
    if (challenge.qopAuth)
        out += ", nc=" + ncText + ", cnonce=" + quote(cnonce) + ", qop=auth";
    else if (sess)
        out += ", cnonce=" + quote(cnonce);   // the session key needs it even without qop
    out += ", response=" + quote(response);
    if (challenge.hasOpaque)
        out += ", opaque=" + quote(challenge.opaque);
    return out;
}

QByteArray NewDigestCnonce()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char *>(words), sizeof(words)).toHex();
}
