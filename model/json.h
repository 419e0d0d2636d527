#pragma once
// A small reader and writer of JSON text (RFC 8259), standard C++ only: a
// tree of values read from the output of other programs (nft) and from plans,
// and the documents the client writes (reports, plans, scans). The reader is
// strict: a text with anything else than one value and white space, or with
// a string that is not UTF-8, is refused, with the byte where it went wrong.
// A byte-order mark written as bytes at the start of a string is dropped.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona::json {

// Why a text is not JSON, and the byte (counting from 0) where that was found.
struct Error {
    std::string what;
    std::size_t offset = 0;
};

class Value {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    // Nesting deeper than this is refused (the reader recurses).
    static constexpr int kMaxDepth = 1024;

    // None when the text is not exactly one JSON value.
    static std::optional<Value> parse(std::string_view text, Error *error = nullptr);

    // Reads a document whose top level may be a long list without holding the
    // whole of it: each element of a top-level list is handed to `each` once
    // it is read, and then dropped. The top level's type; none, with `error`
    // set, when the text is not exactly one JSON value.
    static std::optional<Type>
    readList(std::string_view text, const std::function<void(const Value &)> &each, Error &error);

    // Values to write: a null one by default.
    Value() = default;
    // A text, made well-formed UTF-8: a leading byte-order mark dropped, a
    // byte that starts no UTF-8 sequence taken for U+FFFD.
    static Value string(std::string_view text);
    static Value number(std::int64_t number);
    static Value boolean(bool value);
    static Value array();
    static Value object();
    // Adds an element to an array.
    Value &append(Value element);
    // Sets an object's member, replacing one of the same name (a name is
    // made well-formed UTF-8 as a text is).
    Value &insert(std::string key, Value member);

    // The text of the value: indented by four spaces a level with a line end
    // after the last line, or compact on one line. An object's members come in
    // the order of keyLess; control characters in texts are escaped.
    enum class Layout { Indented, Compact };
    std::string write(Layout layout = Layout::Indented) const;

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
    // An object's member names, in the text's order (a name given twice is
    // there twice).
    const std::vector<std::string> &keys() const;
    // An object's member values, parallel to keys().
    const std::vector<Value> &members() const;

private:
    friend class Reader;
    void writeTo(std::string &out, Layout layout, int level) const;
    Type type_ = Type::Null;
    bool boolean_ = false;
    double number_ = 0;
    std::optional<std::int64_t> integer_;
    std::string text_;
    std::vector<std::string> keys_; // an object's names, parallel to items_
    std::vector<Value> items_;      // an array's elements or an object's values
};

// The order of member names in written objects: by their UTF-16 code units
// (for names of ASCII letters, the order of their bytes).
bool keyLess(std::string_view a, std::string_view b);

} // namespace veltrona::json
