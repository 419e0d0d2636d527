#pragma once
// A small reader of JSON text (RFC 8259) into a tree of values, for the output
// of other programs (nft). Standard C++ only; strict: a text with anything
// else than one value and white space is refused.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona::diagnosis::json {

class Value {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    // Nesting deeper than this is refused (the reader recurses).
    static constexpr int kMaxDepth = 128;

    // None when the text is not exactly one JSON value.
    static std::optional<Value> parse(std::string_view text);

    Type type() const { return type_; }
    bool isNull() const { return type_ == Type::Null; }
    bool isNumber() const { return type_ == Type::Number; }
    bool isString() const { return type_ == Type::String; }
    bool isArray() const { return type_ == Type::Array; }
    bool isObject() const { return type_ == Type::Object; }

    // The number when it is a whole number that an int64 holds.
    std::optional<std::int64_t> integer() const;
    // The text of a string; empty for anything else.
    const std::string &text() const;
    // The elements of an array; empty for anything else.
    const std::vector<Value> &elements() const;
    // An object's member (the last of that name); a null value when there is
    // none or this is not an object.
    const Value &operator[](std::string_view key) const;
    bool contains(std::string_view key) const;
    // An object's member names, in the text's order.
    const std::vector<std::string> &keys() const;

private:
    friend class Reader;
    Type type_ = Type::Null;
    bool boolean_ = false;
    double number_ = 0;
    std::optional<std::int64_t> integer_;
    std::string text_;
    std::vector<std::string> keys_; // an object's names, parallel to items_
    std::vector<Value> items_;      // an array's elements or an object's values
};

} // namespace veltrona::diagnosis::json
