#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

// A broken property. Under libFuzzer the uncaught exception aborts and the input is kept as
// a finding; the corpus replay catches it and names the file.
struct FuzzFailure : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            throw FuzzFailure(std::string(__FILE__) + ":" + std::to_string(__LINE__) + ": " #cond); \
    } while (false)

// Each target is one function. Built for libFuzzer it is also the fuzzer's entry point; in
// the ordinary build the corpus replay calls it by name.
#ifdef BILDFANG_LIBFUZZER
#define BILDFANG_FUZZ_TARGET(fn)                                                                   \
    int fn(const std::uint8_t *data, std::size_t size);                                            \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)              \
    {                                                                                              \
        return fn(data, size);                                                                     \
    }                                                                                              \
    int fn(const std::uint8_t *data, std::size_t size)
#else
#define BILDFANG_FUZZ_TARGET(fn) int fn(const std::uint8_t *data, std::size_t size)
#endif

// Takes the fuzzer's bytes apart: small numbers from the front, texts and the rest after.
class FuzzInput
{
public:
    FuzzInput(const std::uint8_t *data, std::size_t size) : mData(data), mSize(size) {}

    bool empty() const { return mPos >= mSize; }
    std::size_t left() const { return mSize - mPos; }

    std::uint8_t byte()
    {
        return mPos < mSize ? mData[mPos++] : 0;
    }
    std::uint16_t word()
    {
        const std::uint16_t hi = byte();
        return std::uint16_t(hi << 8 | byte());
    }
    // Up to the next 0 byte (not included) or the end.
    QByteArray field()
    {
        const std::size_t start = mPos;
        while (mPos < mSize && mData[mPos] != 0)
            ++mPos;
        QByteArray out(reinterpret_cast<const char *>(mData + start), qsizetype(mPos - start));
        if (mPos < mSize)
            ++mPos;
        return out;
    }
    QByteArray rest()
    {
        QByteArray out(reinterpret_cast<const char *>(mData + mPos), qsizetype(mSize - mPos));
        mPos = mSize;
        return out;
    }

private:
    const std::uint8_t *mData;
    std::size_t mSize;
    std::size_t mPos = 0;
};

// Bytes as a text: the first byte picks Latin-1 (every character 0-255), UTF-8, or raw UTF-16
// (surrogates and all), so that the characters above 255 are reached too.
inline QString FuzzText(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QString();
    const QByteArray body = bytes.mid(1);
    switch (static_cast<unsigned char>(bytes.at(0)) % 3) {
    case 0:
        return QString::fromLatin1(body);
    case 1:
        return QString::fromUtf8(body);
    default: {
        QString text(body.size() / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i)
            text[i] = QChar(char16_t(static_cast<unsigned char>(body.at(2 * i)) << 8
                                     | static_cast<unsigned char>(body.at(2 * i + 1))));
        return text;
    }
    }
}
