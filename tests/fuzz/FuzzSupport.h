#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

// A broken property. Under libFuzzer the uncaught exception aborts and the input is kept as
// a finding; the corpus replay catches it and names the file.
struct FuzzFailure : std::runtime_error
{
    using std::runtime_error::runtime_error;
};
#define FUZZ_CHECK(cond) \
    ((cond) ? void() : throw FuzzFailure(std::string(__FILE__) + ":" + std::to_string(__LINE__) + ": " #cond))

// Built for libFuzzer, a target is also the fuzzer's entry point; the replay calls it by name.
#ifdef BILDFANG_LIBFUZZER
#define BILDFANG_FUZZ_TARGET(fn)                                                                   \
    int fn(const std::uint8_t *data, std::size_t size);                                            \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) { return fn(data, size); } \
    int fn(const std::uint8_t *data, std::size_t size)
#else
#define BILDFANG_FUZZ_TARGET(fn) int fn(const std::uint8_t *data, std::size_t size)
#endif

// Takes the fuzzer's bytes apart: small numbers from the front, texts and the rest after.
struct FuzzInput
{
    QByteArray bytes;
    qsizetype pos = 0;

    FuzzInput(const std::uint8_t *data, std::size_t size) : bytes(reinterpret_cast<const char *>(data), qsizetype(size)) {}
    int byte() { return pos < bytes.size() ? static_cast<unsigned char>(bytes.at(pos++)) : 0; }
    int word()
    {
        const int hi = byte();
        return hi << 8 | byte();
    }
    // Up to the next 0 byte (dropped) or the end.
    QByteArray field()
    {
        const qsizetype end = bytes.indexOf('\0', pos) < 0 ? bytes.size() : bytes.indexOf('\0', pos);
        const QByteArray out = bytes.mid(pos, end - pos);
        pos = std::min(end + 1, bytes.size());
        return out;
    }
    QByteArray rest() { return bytes.mid(std::exchange(pos, bytes.size())); }
};

// Bytes as a text: the first byte picks Latin-1, UTF-8, or raw UTF-16 (surrogates and all),
// so that the characters above 255 are reached too.
inline QString FuzzText(const QByteArray &bytes)
{
    const QByteArray body = bytes.mid(1);
    const int kind = bytes.isEmpty() ? -1 : static_cast<unsigned char>(bytes.at(0)) % 3;
    if (kind < 2)
        return kind < 0 ? QString() : kind == 0 ? QString::fromLatin1(body) : QString::fromUtf8(body);
    QString text(body.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(char16_t(static_cast<unsigned char>(body.at(2 * i)) << 8 | static_cast<unsigned char>(body.at(2 * i + 1))));
    return text;
}

inline bool AllLatin1(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 255; });
}
