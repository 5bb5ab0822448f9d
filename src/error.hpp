// The core's error model.
//
// Anything a file, an archive or a caller's description can get wrong is a
// `GedcomError` value carried back in a `Result`; callers propagate it with an
// early return. A broken precondition (a programming error that no input from
// the binding can reach) throws `InternalFailure` instead.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace lignor {

enum class ErrorKind : std::uint8_t { Limit, Syntax, Structure, Zip };

struct GedcomError {
    std::string message;
    std::optional<std::uint64_t> line;
    ErrorKind kind = ErrorKind::Syntax;

    static GedcomError at_line(ErrorKind kind, std::string message, std::uint64_t line) {
        return GedcomError{std::move(message), line, kind};
    }
    static GedcomError whole(ErrorKind kind, std::string message) {
        return GedcomError{std::move(message), std::nullopt, kind};
    }

    // "GEDCOM line {line}: {message}", or the message alone without a line.
    std::string display() const;

    friend bool operator==(const GedcomError&, const GedcomError&) = default;
};

// A violated precondition. Its message is one of the fixed texts of the
// operation that was misused.
class InternalFailure : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

// Writes `text` as a double-quoted string with backslash escapes, the one form
// in which messages embed text from a file or a caller: quotes, backslashes
// and every control character (C0, DEL, C1) are escaped, so quoted text can
// neither break a message's line nor hide its end.
std::string quoted(std::string_view text);

// The pieces written one after another, in one allocation: for messages made
// by the thousand, where a chain of additions would grow the text block by block.
std::string joined(std::initializer_list<std::string_view> pieces);

// Either a value or the error that prevented it.
template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(GedcomError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { return checked_value(); }
    const T& value() const& { return const_cast<Result*>(this)->checked_value(); }
    T&& value() && { return std::move(checked_value()); }
    T& operator*() & { return value(); }
    T&& operator*() && { return std::move(checked_value()); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const GedcomError& error() const {
        if (has_value()) throw InternalFailure("a successful result holds no error");
        return std::get<1>(state_);
    }
    GedcomError&& take_error() && {
        if (has_value()) throw InternalFailure("a successful result holds no error");
        return std::get<1>(std::move(state_));
    }

  private:
    T& checked_value() {
        if (!has_value()) throw InternalFailure("a failed result holds no value");
        return std::get<0>(state_);
    }
    std::variant<T, GedcomError> state_;
};

// The result of an operation that yields nothing but may fail.
struct Done {};
using Status = Result<Done>;
inline Status ok() {
    return Done{};
}

}  // namespace lignor
