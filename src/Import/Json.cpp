// The JSON reader (see Json.h): a recursive descent over the text whose depth
// is bounded by kJsonMaxDepth. Strings are checked for valid escapes and
// control characters; \u escapes become UTF-8 (surrogate pairs joined).
#include "Import/Json.h"

#include "Common/Check.h"
#include "Common/Portable.h"

namespace orv {

const JsonValue* JsonValue::find(std::string_view _key) const {
    for (const auto& m : members)
        if (m.name == _key) return &m.value;
    return nullptr;
}

namespace {

class Parser {
public:
    explicit Parser(std::string_view _t) : t_(_t) {}

    JsonValue document() {
        JsonValue v = value(0);
        space();
        if (i_ != t_.size()) fail("text after the end of the document");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& _what) const {
        size_t line = 1;
        for (size_t k = 0; k < i_ && k < t_.size(); ++k) line += t_[k] == '\n';
        throw Error("JSON line " + std::to_string(line) + ": " + _what);
    }
    void space() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r')) ++i_;
    }
    bool eat(char _c) {
        space();
        if (i_ < t_.size() && t_[i_] == _c) {
            ++i_;
            return true;
        }
        return false;
    }
    void expect(char _c) {
        if (!eat(_c)) fail(std::string("expected '") + _c + "'");
    }
    void word(std::string_view _w) {
        if (t_.substr(i_, _w.size()) != _w) fail("unknown word");
        i_ += _w.size();
    }

    JsonValue value(int _depth) {
        space();
        if (i_ >= t_.size()) fail("unexpected end of the text");
        JsonValue v;
        const char c = t_[i_];
        if (c == '{' || c == '[') {
            if (_depth >= kJsonMaxDepth) fail("nested more than " + std::to_string(kJsonMaxDepth) + " levels deep");
            ++i_;
            const char close = c == '{' ? '}' : ']';
            v.kind = c == '{' ? JsonValue::Kind::Object : JsonValue::Kind::Array;
            if (eat(close)) return v;
            do {
                if (c == '{') {
                    space();
                    if (i_ >= t_.size() || t_[i_] != '"') fail("expected a member name");
                    std::string key = string();
                    expect(':');
                    v.members.push_back(JsonMember{std::move(key), value(_depth + 1)});
                } else {
                    v.items.push_back(value(_depth + 1));
                }
            } while (eat(','));
            expect(close);
        } else if (c == '"') {
            v.kind = JsonValue::Kind::String;
            v.text = string();
        } else if (c == 't' || c == 'f') {
            v.kind = JsonValue::Kind::Bool;
            v.boolean = c == 't';
            word(c == 't' ? "true" : "false");
        } else if (c == 'n') {
            word("null");
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            v.kind = JsonValue::Kind::Number;
            v.number = number();
        } else {
            fail("unexpected character where a value belongs");
        }
        return v;
    }

    bool digitAt(size_t _k) const { return _k < t_.size() && t_[_k] >= '0' && t_[_k] <= '9'; }

    double number() {
        const size_t start = i_;
        if (i_ < t_.size() && t_[i_] == '-') ++i_;
        if (!digitAt(i_)) fail("bad number");
        if (t_[i_] == '0') ++i_;
        else
            while (digitAt(i_)) ++i_;
        if (i_ < t_.size() && t_[i_] == '.') {
            ++i_;
            if (!digitAt(i_)) fail("bad number");
            while (digitAt(i_)) ++i_;
        }
        if (i_ < t_.size() && (t_[i_] == 'e' || t_[i_] == 'E')) {
            ++i_;
            if (i_ < t_.size() && (t_[i_] == '+' || t_[i_] == '-')) ++i_;
            if (!digitAt(i_)) fail("bad number");
            while (digitAt(i_)) ++i_;
        }
        // The grammar above is JSON's; parseDouble takes a leading '-' but not
        // '+', and an exponent '+', so the range can be handed over as it is.
        double d = 0;
        if (!parseDouble(t_.data() + start, t_.data() + i_, d)) {
            // Underflow reads as zero, as every JSON reader does; overflow is refused.
            bool nonZeroDigit = false;
            for (size_t k = start; k < i_ && t_[k] != 'e' && t_[k] != 'E'; ++k) nonZeroDigit |= t_[k] >= '1' && t_[k] <= '9';
            size_t e = start;
            while (e < i_ && t_[e] != 'e' && t_[e] != 'E') ++e;
            if (nonZeroDigit && e < i_ && t_[e + 1] == '-') return t_[start] == '-' ? -0.0 : 0.0;
            fail("number out of range");
        }
        return d;
    }

    unsigned hex4() {
        if (i_ + 4 > t_.size()) fail("bad \\u escape");
        unsigned u = 0;
        for (int k = 0; k < 4; ++k) {
            const char h = t_[i_++];
            u = 16 * u + static_cast<unsigned>(h >= '0' && h <= '9'   ? h - '0'
                                                : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                                : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                                       : (fail("bad \\u escape"), 0));
        }
        return u;
    }

    static void utf8(std::string& _out, unsigned _c) {
        if (_c < 0x80) {
            _out += static_cast<char>(_c);
        } else if (_c < 0x800) {
            _out += static_cast<char>(0xC0 | (_c >> 6));
            _out += static_cast<char>(0x80 | (_c & 0x3F));
        } else if (_c < 0x10000) {
            _out += static_cast<char>(0xE0 | (_c >> 12));
            _out += static_cast<char>(0x80 | ((_c >> 6) & 0x3F));
            _out += static_cast<char>(0x80 | (_c & 0x3F));
        } else {
            _out += static_cast<char>(0xF0 | (_c >> 18));
            _out += static_cast<char>(0x80 | ((_c >> 12) & 0x3F));
            _out += static_cast<char>(0x80 | ((_c >> 6) & 0x3F));
            _out += static_cast<char>(0x80 | (_c & 0x3F));
        }
    }

    std::string string() {
        ++i_;  // the opening quote
        std::string s;
        for (;;) {
            if (i_ >= t_.size()) fail("unterminated string");
            const char c = t_[i_++];
            if (c == '"') return s;
            if (static_cast<unsigned char>(c) < 0x20) fail("control character in a string");
            if (c != '\\') {
                s += c;
                continue;
            }
            if (i_ >= t_.size()) fail("unterminated string");
            const char e = t_[i_++];
            switch (e) {
            case '"': case '\\': case '/': s += e; break;
            case 'b': s += '\b'; break;
            case 'f': s += '\f'; break;
            case 'n': s += '\n'; break;
            case 'r': s += '\r'; break;
            case 't': s += '\t'; break;
            case 'u': {
                unsigned u = hex4();
                if (u >= 0xD800 && u < 0xDC00) {
                    if (i_ + 2 > t_.size() || t_[i_] != '\\' || t_[i_ + 1] != 'u') fail("unpaired surrogate");
                    i_ += 2;
                    const unsigned lo = hex4();
                    if (lo < 0xDC00 || lo >= 0xE000) fail("unpaired surrogate");
                    u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                } else if (u >= 0xDC00 && u < 0xE000) {
                    fail("unpaired surrogate");
                }
                utf8(s, u);
                break;
            }
            default: fail("bad escape in a string");
            }
        }
    }

    std::string_view t_;
    size_t i_ = 0;
};

}  // namespace

JsonValue parseJson(std::string_view _text) { return Parser(_text).document(); }

}  // namespace orv
