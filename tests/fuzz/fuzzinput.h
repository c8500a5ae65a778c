#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Shared by the fuzz targets: cuts the fuzzer's bytes into the pieces a
// parser takes, and stops the run when a parser breaks one of its promises.
namespace palisor::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : bytes_(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))
    {
    }

    bool empty() const { return pos_ >= bytes_.size(); }

    // The next byte; 0 once the input is used up.
    std::uint8_t byte()
    {
        return empty() ? 0 : static_cast<std::uint8_t>(bytes_[pos_++]);
    }

    // The bytes up to the next separator (dropped) or to the end.
    QByteArray chunk(char separator)
    {
        const qsizetype end = bytes_.indexOf(separator, pos_);
        const qsizetype stop = end < 0 ? bytes_.size() : end;
        const QByteArray piece = bytes_.mid(pos_, stop - pos_);
        pos_ = end < 0 ? bytes_.size() : end + 1;
        return piece;
    }

    // Text up to the next separator, one character per byte as every
    // outside text is read.
    QString text(char separator) { return QString::fromLatin1(chunk(separator)); }

    QByteArray rest()
    {
        const QByteArray piece = bytes_.mid(pos_);
        pos_ = bytes_.size();
        return piece;
    }

    // Everything left, cut at every separator.
    QList<QByteArray> pieces(char separator)
    {
        QList<QByteArray> result;
        while (!empty())
            result.append(chunk(separator));
        return result;
    }

private:
    QByteArray bytes_;
    qsizetype pos_ = 0;
};

// Separates the fields of a multi-field input; any other byte is data.
inline constexpr char kFieldSeparator = '\x1E';

[[noreturn]] inline void fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: broken promise: %s\n", file, line, condition);
    std::abort();
}

}  // namespace palisor::fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::palisor::fuzz::fail(#condition, __FILE__, __LINE__))
