#include "json.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace veltrona::diagnosis::json {

namespace {

const Value kNull{};
const std::string kNoText;
const std::vector<Value> kNoElements;
const std::vector<std::string> kNoKeys;

void appendUtf8(std::string &out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::optional<Value> document() {
        Value value;
        if (!read(value, 0))
            return std::nullopt;
        skipBlanks();
        if (at_ != text_.size())
            return std::nullopt;
        return value;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;

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
            return false;
        skipBlanks();
        if (at_ >= text_.size())
            return false;
        switch (text_[at_]) {
        case '{':
            ++at_;
            value.type_ = Value::Type::Object;
            if (take('}'))
                return true;
            do {
                skipBlanks();
                std::string key;
                if (!string(key) || !take(':'))
                    return false;
                value.keys_.push_back(std::move(key));
                value.items_.emplace_back();
                if (!read(value.items_.back(), depth + 1))
                    return false;
            } while (take(','));
            return take('}');
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
            return take(']');
        case '"':
            value.type_ = Value::Type::String;
            return string(value.text_);
        case 't':
            value.type_ = Value::Type::Bool;
            value.boolean_ = true;
            return word("true");
        case 'f':
            value.type_ = Value::Type::Bool;
            return word("false");
        case 'n':
            return word("null");
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
        if (!digits() || (text_[first] == '0' && at_ - first > 1))
            return false;
        bool whole = true;
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            whole = false;
            if (!digits())
                return false;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            whole = false;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-'))
                ++at_;
            if (!digits())
                return false;
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
        if (at_ >= text_.size() || text_[at_] != '"')
            return false;
        ++at_;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size())
                return false;
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
                    return false;
                if (code >= 0xD800 && code < 0xDC00) {
                    std::uint32_t low = 0;
                    if (!word("\\u") || !hex4(low) || low < 0xDC00 || low >= 0xE000)
                        return false;
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code < 0xE000) {
                    return false;
                }
                appendUtf8(out, code);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
};

std::optional<Value> Value::parse(std::string_view text) {
    return Reader(text).document();
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

} // namespace veltrona::diagnosis::json
