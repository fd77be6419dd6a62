// WWW-Authenticate parsing and the Digest answer built from it, on any header block, user,
// password and path.
#include "FuzzSupport.h"

#include "fetch/DigestAuth.h"

namespace {

bool hasControl(const QByteArray &bytes)
{
    return std::any_of(bytes.cbegin(), bytes.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// Reads `name="..."` at pos, undoing the backslashes; pos moves past it.
QByteArray readQuoted(const QByteArray &value, qsizetype &pos, const QByteArray &name)
{
    FUZZ_CHECK(value.mid(pos, name.size() + 2) == name + "=\"");
    pos += name.size() + 2;
    QByteArray out;
    for (; pos < value.size() && value.at(pos) != '"'; ++pos) {
        if (value.at(pos) == '\\')
            ++pos;
        FUZZ_CHECK(pos < value.size());
        out += value.at(pos);
    }
    FUZZ_CHECK(pos < value.size());
    ++pos;
    return out;
}

} // namespace

BILDFANG_FUZZ_TARGET(FuzzAuth)
{
    FuzzInput in(data, size);
    const QByteArray user = in.field();
    const QByteArray password = in.field();
    const QByteArray uri = in.field();
    const quint32 nc = quint32(in.word());
    const QByteArray block = in.rest();

    IsUnauthorized(block);
    const AuthChallenges offered = ParseAuthChallenges(block);
    if (offered.digest)
        FUZZ_CHECK(block.toLower().contains("digest") && block.toLower().contains("nonce"));
    const DigestChallenge challenge = offered.digest.value_or(DigestChallenge());

    const QByteArray value = DigestAuthorization(challenge, user, password, "GET", uri, nc, "0a4f113b");
    FUZZ_CHECK(value.isEmpty() == (hasControl(user) || hasControl(uri)));
    if (value.isEmpty())
        return 0;
    // One header line, whatever the camera sent.
    FUZZ_CHECK(!value.contains('\r') && !value.contains('\n') && !value.contains('\0'));
    FUZZ_CHECK(value.startsWith("Digest "));
    qsizetype pos = 7;
    FUZZ_CHECK(readQuoted(value, pos, "username") == user);
    pos += 2;
    FUZZ_CHECK(readQuoted(value, pos, "realm") == challenge.realm);
    pos += 2;
    FUZZ_CHECK(readQuoted(value, pos, "uri") == uri);
    pos = value.indexOf(", nonce=", pos) + 2;
    FUZZ_CHECK(pos > 1 && readQuoted(value, pos, "nonce") == challenge.nonce);

    // Offered back as a challenge, the answer's own fields read as the challenge's.
    const AuthChallenges back = ParseAuthChallenges("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: " + value + "\r\n\r\n");
    FUZZ_CHECK(back.digest && !back.basic);
    FUZZ_CHECK(back.digest->realm == challenge.realm && back.digest->nonce == challenge.nonce);
    FUZZ_CHECK(back.digest->algorithm == challenge.algorithm && back.digest->qopAuth == challenge.qopAuth);
    FUZZ_CHECK(back.digest->hasOpaque == challenge.hasOpaque && back.digest->opaque == challenge.opaque);
    return 0;
}
