#include "web/body.h"

#include <charconv>

namespace body {

namespace {

class Reader {
public:
    explicit Reader(std::string_view in) : in_(in) {}

    bool object(Object &out)
    {
        out.clear();
        if (!take('{'))
            return fail("se esperaba un objeto");
        if (take('}'))
            return end();
        for (;;) {
            std::string key;
            Value v;
            if (!peekIs('"') || !text(key))
                return fail("se esperaba el nombre de un campo entre comillas");
            if (!take(':'))
                return fail("faltan los dos puntos tras un nombre");
            if (!value(v))
                return false;
            if (!out.emplace(std::move(key), std::move(v)).second)
                return fail("un campo está repetido");
            if (take('}'))
                return end();
            if (!take(','))
                return fail("se esperaba una coma o el final del objeto");
        }
    }

    const std::string &why() const { return why_; }
    std::size_t at() const { return at_; }

private:
    void space()
    {
        while (at_ < in_.size() &&
               (in_[at_] == ' ' || in_[at_] == '\t' || in_[at_] == '\n' || in_[at_] == '\r'))
            ++at_;
    }
    bool peekIs(char c)
    {
        space();
        return at_ < in_.size() && in_[at_] == c;
    }
    bool take(char c)
    {
        if (!peekIs(c))
            return false;
        ++at_;
        return true;
    }
    bool fail(const char *why)
    {
        if (why_.empty())
            why_ = why;
        return false;
    }
    bool end()
    {
        space();
        return at_ == in_.size() || fail("sobra texto tras el objeto");
    }

    bool value(Value &v)
    {
        space();
        if (peekIs('"')) {
            v.isText = true;
            return text(v.text);
        }
        const std::size_t start = at_;
        if (at_ < in_.size() && in_[at_] == '-')
            ++at_;
        const std::size_t digits = at_;
        while (at_ < in_.size() && in_[at_] >= '0' && in_[at_] <= '9')
            ++at_;
        if (at_ == digits)
            return fail("cada valor debe ser un texto o un número entero");
        // JSON writes no leading zeros; a fraction or exponent is no whole number.
        if ((in_[digits] == '0' && at_ - digits > 1) ||
            (at_ < in_.size() && (in_[at_] == '.' || in_[at_] == 'e' || in_[at_] == 'E')))
            return fail("cada valor debe ser un texto o un número entero");
        const auto r = std::from_chars(in_.data() + start, in_.data() + at_, v.number);
        if (r.ec != std::errc())
            return fail("un número es demasiado grande");
        return true;
    }

    // Four hexadecimal digits after "\u".
    bool hex4(unsigned &out)
    {
        if (in_.size() - at_ < 4)
            return false;
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = in_[at_++];
            const unsigned d = c >= '0' && c <= '9' ? unsigned(c - '0')
                : c >= 'a' && c <= 'f'              ? unsigned(c - 'a' + 10)
                : c >= 'A' && c <= 'F'              ? unsigned(c - 'A' + 10)
                                                    : 16u;
            if (d == 16)
                return false;
            out = out * 16 + d;
        }
        return true;
    }

    static void utf8(std::string &out, unsigned cp)
    {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool escape(std::string &out)
    {
        if (at_ >= in_.size())
            return fail("un texto no se cierra");
        const char c = in_[at_++];
        static const std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
        if (const std::size_t k = from.find(c); k != std::string_view::npos) {
            out += to[k];
            return true;
        }
        unsigned cp = 0;
        if (c != 'u' || !hex4(cp))
            return fail("un texto lleva un escape no válido");
        if (cp >= 0xDC00 && cp <= 0xDFFF)
            return fail("un texto lleva un escape no válido");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned low = 0;
            if (in_.substr(at_, 2) != "\\u" || (at_ += 2, !hex4(low)) || low < 0xDC00 ||
                low > 0xDFFF)
                return fail("un texto lleva un escape no válido");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        utf8(out, cp);
        return true;
    }

    // One character of UTF-8 as it came, checked: no overlong forms, no
    // surrogates, nothing past U+10FFFF.
    bool character(std::string &out)
    {
        const auto b = static_cast<unsigned char>(in_[at_]);
        const int extra = b < 0x80   ? 0
            : b >= 0xC2 && b <= 0xDF ? 1
            : b >= 0xE0 && b <= 0xEF ? 2
            : b >= 0xF0 && b <= 0xF4 ? 3
                                     : -1;
        if (extra < 0 || in_.size() - at_ <= static_cast<std::size_t>(extra))
            return fail("el texto no es UTF-8 válido");
        unsigned cp = extra == 0 ? b : b & (0x3F >> extra);
        for (int i = 1; i <= extra; ++i) {
            const auto c = static_cast<unsigned char>(in_[at_ + static_cast<std::size_t>(i)]);
            if ((c & 0xC0) != 0x80)
                return fail("el texto no es UTF-8 válido");
            cp = (cp << 6) | (c & 0x3F);
        }
        static const unsigned least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return fail("el texto no es UTF-8 válido");
        out.append(in_.substr(at_, static_cast<std::size_t>(extra) + 1));
        at_ += static_cast<std::size_t>(extra) + 1;
        return true;
    }

    bool text(std::string &out)
    {
        ++at_; // the opening quote
        for (;;) {
            if (at_ >= in_.size())
                return fail("un texto no se cierra");
            const char c = in_[at_];
            if (c == '"') {
                ++at_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return fail("un texto lleva un carácter de control sin escapar");
            if (c == '\\') {
                ++at_;
                if (!escape(out))
                    return false;
            } else if (!character(out)) {
                return false;
            }
        }
    }

    std::string_view in_;
    std::size_t at_ = 0;
    std::string why_;
};

} // namespace

bool parse(std::string_view in, Object &out, std::string &error)
{
    Reader r(in);
    if (r.object(out))
        return true;
    out.clear();
    error = "El cuerpo de la petición no es un objeto JSON válido: " + r.why() + " (carácter " +
        std::to_string(r.at() + 1) + ").";
    return false;
}

} // namespace body
