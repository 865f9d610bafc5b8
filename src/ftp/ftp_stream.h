#pragma once

// Destinations of a data transfer: retrievals and listings write what arrives on
// the data connection into one of these.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace taskhaul::ftp {

class TFtpOutputStream {
public:
    virtual ~TFtpOutputStream() = default;
    // Appends the bytes; raises an EFtpException (or a std::exception) on failure.
    virtual void Write(const char* data, std::size_t size) = 0;
    // The current write position (the offset a resumed transfer starts at).
    virtual std::int64_t Position() const = 0;
};

// Collects everything in memory; used for listings.
class TFtpStringStream final : public TFtpOutputStream {
public:
    void Write(const char* data, std::size_t size) override { text_.append(data, size); }
    std::int64_t Position() const override { return static_cast<std::int64_t>(text_.size()); }
    const std::string& Text() const noexcept { return text_; }
    std::string TakeText() noexcept { return std::move(text_); }

private:
    std::string text_;
};

// Adapts a caller's std::ostream.
class TFtpStdStream final : public TFtpOutputStream {
public:
    explicit TFtpStdStream(std::ostream& out);
    void Write(const char* data, std::size_t size) override;
    std::int64_t Position() const override;

private:
    std::ostream& out_;
};

} // namespace taskhaul::ftp
