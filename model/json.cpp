#include "json.h"

#include "printable.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>

namespace veltrona::json {

namespace {

const Value kNull{};
const std::string kNoText;
const std::vector<Value> kNoElements;
const std::vector<std::string> kNoKeys;

// The position of a code point in the order of UTF-16 code units: the ones
// beyond U+FFFF (two units from D800) come before U+E000 to U+FFFF.
std::uint32_t unitOrder(char32_t code) {
    if (code >= 0x10000)
        return 0xD800 + (code - 0x10000);
    return code >= 0xE000 ? code + 0x100000 : code;
}

void escape(std::string &out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char code[7];
                std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
                out += code;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

} // namespace

class Reader {
public:
    Reader(std::string_view text, Error *error) : text_(text), error_(error) {}

    std::optional<Value> document() {
        Value value;
        if (!read(value, 0) || !end())
            return std::nullopt;
        return value;
    }

    std::optional<Value::Type> list(const std::function<void(const Value &)> &each) {
        skipBlanks();
        if (at_ >= text_.size() || text_[at_] != '[') {
            std::optional<Value> value = document();
            return value ? std::optional(value->type()) : std::nullopt;
        }
        ++at_;
        if (!take(']')) {
            do {
                Value element;
                if (!read(element, 1))
                    return std::nullopt;
                each(element);
            } while (take(','));
            if (!closeArray())
                return std::nullopt;
        }
        if (!end())
            return std::nullopt;
        return Value::Type::Array;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    Error *error_;

    // Notes why the text is refused, at the current byte; always false.
    bool fail(const char *what) {
        if (error_ && error_->what.empty())
            *error_ = {what, at_};
        return false;
    }

    bool closeArray() {
        return take(']') ||
               fail(at_ < text_.size() ? "missing value separator" : "unterminated array");
    }

    bool end() {
        skipBlanks();
        return at_ == text_.size() || fail("garbage at the end of the document");
    }

    void skipBlanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    bool take(char c) {
        skipBlanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    bool word(std::string_view w) {
        if (text_.substr(at_, w.size()) != w)
            return false;
        at_ += w.size();
        return true;
    }

    bool read(Value &value, int depth) {
        if (depth > Value::kMaxDepth)
            return fail("too deeply nested document");
        skipBlanks();
        if (at_ >= text_.size())
            return fail("illegal value");
        switch (text_[at_]) {
        case '{':
            ++at_;
            value.type_ = Value::Type::Object;
            if (take('}'))
                return true;
            do {
                skipBlanks();
                std::string key;
                if (at_ >= text_.size() || text_[at_] != '"')
                    return fail("unterminated object");
                if (!string(key))
                    return false;
                if (!take(':'))
                    return fail("missing name separator");
                value.keys_.push_back(std::move(key));
                value.items_.emplace_back();
                if (!read(value.items_.back(), depth + 1))
                    return false;
            } while (take(','));
            return take('}') || fail("unterminated object");
        case '[':
            ++at_;
            value.type_ = Value::Type::Array;
            if (take(']'))
                return true;
            do {
                value.items_.emplace_back();
                if (!read(value.items_.back(), depth + 1))
                    return false;
            } while (take(','));
            return closeArray();
        case '"':
            value.type_ = Value::Type::String;
            return string(value.text_);
        case ']':
        case '}':
        case ',':
            return fail("illegal value");
        case 't':
            value.type_ = Value::Type::Bool;
            value.boolean_ = true;
            return word("true") || fail("illegal value");
        case 'f':
            value.type_ = Value::Type::Bool;
            return word("false") || fail("illegal value");
        case 'n':
            return word("null") || fail("illegal value");
        default:
            return number(value);
        }
    }

    bool digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            ++at_;
        return at_ > start;
    }

    bool number(Value &value) {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-')
            ++at_;
        const std::size_t first = at_;
        if (at_ >= text_.size() || !(text_[at_] >= '0' && text_[at_] <= '9'))
            return fail(at_ == start ? "illegal value" : "illegal number");
        if (!digits() || (text_[first] == '0' && at_ - first > 1))
            return fail("illegal number");
        bool whole = true;
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            whole = false;
            if (!digits())
                return fail("illegal number");
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            whole = false;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-'))
                ++at_;
            if (!digits())
                return fail("illegal number");
        }
        const std::string literal(text_.substr(start, at_ - start));
        value.type_ = Value::Type::Number;
        value.number_ = std::strtod(literal.c_str(), nullptr);
        if (whole) {
            std::int64_t n = 0;
            const auto [end, error] =
                std::from_chars(literal.data(), literal.data() + literal.size(), n);
            if (error == std::errc() && end == literal.data() + literal.size())
                value.integer_ = n;
        } else if (std::isfinite(value.number_) && std::trunc(value.number_) == value.number_ &&
                   std::fabs(value.number_) < 9.2e18) {
            value.integer_ = static_cast<std::int64_t>(value.number_);
        }
        return true;
    }

    bool hex4(std::uint32_t &code) {
        if (text_.size() - at_ < 4)
            return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool string(std::string &out) {
        ++at_; // the opening quote
        // A byte-order mark that starts a string is not part of its text.
        if (text_.substr(at_, 3) == "\xEF\xBB\xBF")
            at_ += 3;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"') {
                ++at_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return fail("control character in a string");
            if (static_cast<unsigned char>(c) >= 0x80) {
                char32_t code = 0;
                const std::size_t length = utf8Sequence(text_.substr(at_), code);
                if (length == 0)
                    return fail("invalid UTF8 string");
                out.append(text_.substr(at_, length));
                at_ += length;
                continue;
            }
            ++at_;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size())
                break;
            const char escape = text_[at_++];
            switch (escape) {
            case '"':
            case '\\':
            case '/':
                out += escape;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                std::uint32_t code = 0;
                if (!hex4(code))
                    return fail("invalid escape sequence");
                if (code >= 0xD800 && code < 0xDC00) {
                    std::uint32_t low = 0;
                    if (!word("\\u") || !hex4(low) || low < 0xDC00 || low >= 0xE000)
                        return fail("invalid escape sequence");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code < 0xE000) {
                    return fail("invalid escape sequence");
                }
                appendUtf8(out, code);
                break;
            }
            default:
                return fail("invalid escape sequence");
            }
        }
        return fail("unterminated string");
    }
};

std::optional<Value> Value::parse(std::string_view text, Error *error) {
    return Reader(text, error).document();
}

std::optional<Value::Type> Value::readList(std::string_view text,
                                           const std::function<void(const Value &)> &each,
                                           Error &error) {
    return Reader(text, &error).list(each);
}

Value Value::string(std::string_view text) {
    Value value;
    value.type_ = Type::String;
    value.text_ = wellFormedUtf8(text);
    return value;
}

Value Value::number(std::int64_t number) {
    Value value;
    value.type_ = Type::Number;
    value.number_ = static_cast<double>(number);
    value.integer_ = number;
    return value;
}

Value Value::boolean(bool on) {
    Value value;
    value.type_ = Type::Bool;
    value.boolean_ = on;
    return value;
}

Value Value::array() {
    Value value;
    value.type_ = Type::Array;
    return value;
}

Value Value::object() {
    Value value;
    value.type_ = Type::Object;
    return value;
}

Value &Value::append(Value element) {
    items_.push_back(std::move(element));
    return *this;
}

Value &Value::insert(std::string key, Value member) {
    key = wellFormedUtf8(key);
    const auto same = std::find(keys_.begin(), keys_.end(), key);
    if (same != keys_.end()) {
        items_[static_cast<std::size_t>(same - keys_.begin())] = std::move(member);
    } else {
        keys_.push_back(std::move(key));
        items_.push_back(std::move(member));
    }
    return *this;
}

std::string Value::write(Layout layout) const {
    std::string out;
    writeTo(out, layout, 0);
    if (layout == Layout::Indented)
        out += '\n';
    return out;
}

void Value::writeTo(std::string &out, Layout layout, int level) const {
    switch (type_) {
    case Type::Null:
        out += "null";
        return;
    case Type::Bool:
        out += boolean_ ? "true" : "false";
        return;
    case Type::Number:
        if (integer_) {
            out += std::to_string(*integer_);
        } else {
            char text[32];
            const auto written = std::to_chars(text, text + sizeof text, number_);
            out.append(text, written.ptr);
        }
        return;
    case Type::String:
        escape(out, text_);
        return;
    case Type::Array:
    case Type::Object:
        break;
    }
    const bool object = type_ == Type::Object;
    const bool indented = layout == Layout::Indented;
    std::vector<std::size_t> order(items_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (object)
        std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
            return keyLess(keys_[a], keys_[b]);
        });
    out += object ? '{' : '[';
    if (indented)
        out += '\n';
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (indented)
            out.append(4 * static_cast<std::size_t>(level + 1), ' ');
        if (object) {
            escape(out, keys_[order[i]]);
            out += indented ? ": " : ":";
        }
        items_[order[i]].writeTo(out, layout, level + 1);
        if (i + 1 < order.size())
            out += ',';
        if (indented)
            out += '\n';
    }
    if (indented)
        out.append(4 * static_cast<std::size_t>(level), ' ');
    out += object ? '}' : ']';
}

std::optional<std::int64_t> Value::integer() const {
    return type_ == Type::Number ? integer_ : std::nullopt;
}

const std::string &Value::text() const {
    return type_ == Type::String ? text_ : kNoText;
}

const std::vector<Value> &Value::elements() const {
    return type_ == Type::Array ? items_ : kNoElements;
}

const std::vector<Value> &Value::members() const {
    return type_ == Type::Object ? items_ : kNoElements;
}

const Value &Value::operator[](std::string_view key) const {
    for (std::size_t i = keys_.size(); i-- > 0;)
        if (keys_[i] == key)
            return items_[i];
    return kNull;
}

bool Value::contains(std::string_view key) const {
    for (const std::string &k : keys_)
        if (k == key)
            return true;
    return false;
}

const std::vector<std::string> &Value::keys() const {
    return type_ == Type::Object ? keys_ : kNoKeys;
}

bool keyLess(std::string_view a, std::string_view b) {
    while (!a.empty() && !b.empty()) {
        char32_t x = 0, y = 0;
        std::size_t m = utf8Sequence(a, x), n = utf8Sequence(b, y);
        if (m == 0)
            x = static_cast<unsigned char>(a.front()), m = 1;
        if (n == 0)
            y = static_cast<unsigned char>(b.front()), n = 1;
        if (x != y)
            return unitOrder(x) < unitOrder(y);
        a.remove_prefix(m);
        b.remove_prefix(n);
    }
    return a.empty() && !b.empty();
}

} // namespace veltrona::json
