#include "platform/text16.h"

#include <cstring>

namespace tarvelon {

size_t text16Length(const char16_t* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != 0) ++length;
    return length;
}

size_t wholeCharacterLength(const char16_t* text, size_t length) {
    const bool endsInHighSurrogate = length > 0 && text[length - 1] >= 0xD800 && text[length - 1] < 0xDC00;
    return endsInHighSurrogate ? length - 1 : length;
}

void copyText16(char16_t* destination, size_t capacity, const char16_t* source) {
    if (capacity == 0) return;
    size_t i = 0;
    if (source != nullptr) {
        for (; i + 1 < capacity && source[i] != 0; ++i) destination[i] = source[i];
        if (source[i] != 0) i = wholeCharacterLength(destination, i);
    }
    destination[i] = 0;
}

void copyBytesToText16(char16_t* destination, size_t capacity, const char* source) {
    if (capacity == 0) return;
    size_t i = 0;
    if (source != nullptr) {
        for (; i + 1 < capacity && source[i] != 0; ++i) {
            destination[i] = static_cast<char16_t>(static_cast<unsigned char>(source[i]));
        }
    }
    destination[i] = 0;
}

bool equalText16(const char16_t* a, const char16_t* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

namespace {

struct Output {
    char16_t* text;
    size_t capacity;
    size_t length;
    bool cut;

    void put(char16_t unit) {
        if (length + 1 < capacity) {
            text[length++] = unit;
        } else {
            cut = true;
        }
    }
};

void putPadded(Output& out, const char16_t* body, size_t bodyLength, int width, bool left, bool zero,
               bool negative) {
    const size_t total = bodyLength + (negative ? 1 : 0);
    const size_t pad = width > 0 && static_cast<size_t>(width) > total ? width - total : 0;
    if (!left && !zero) {
        for (size_t i = 0; i < pad; ++i) out.put(u' ');
    }
    if (negative) out.put(u'-');
    if (!left && zero) {
        for (size_t i = 0; i < pad; ++i) out.put(u'0');
    }
    for (size_t i = 0; i < bodyLength; ++i) out.put(body[i]);
    if (left) {
        for (size_t i = 0; i < pad; ++i) out.put(u' ');
    }
}

void putNumber(Output& out, uint64_t magnitude, bool negative, unsigned base, bool upper, int width,
               bool left, bool zero) {
    char16_t digits[24];
    size_t count = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[count++] = static_cast<char16_t>(set[magnitude % base]);
        magnitude /= base;
    } while (magnitude != 0);
    char16_t body[24];
    for (size_t i = 0; i < count; ++i) body[i] = digits[count - 1 - i];
    putPadded(out, body, count, width, left, zero, negative);
}

}  // namespace

int vformat16(char16_t* destination, size_t capacity, const char16_t* format, va_list arguments) {
    Output out{destination, capacity, 0, false};
    if (capacity == 0) return 0;
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            out.put(*p);
            continue;
        }
        ++p;
        bool left = false;
        bool zero = false;
        for (;; ++p) {
            if (*p == u'-') {
                left = true;
            } else if (*p == u'0') {
                zero = true;
            } else {
                break;
            }
        }
        int width = 0;
        while (*p >= u'0' && *p <= u'9') width = width * 10 + (*p++ - u'0');
        bool wide64 = false;
        if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
            wide64 = true;
            p += 3;
        } else if (p[0] == u'l' && p[1] == u'l') {
            wide64 = true;
            p += 2;
        } else if (*p == u'l') {
            ++p;
        }
        switch (*p) {
            case u'd':
            case u'i': {
                const int64_t value = wide64 ? va_arg(arguments, long long) : va_arg(arguments, int);
                const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : value;
                putNumber(out, magnitude, value < 0, 10, false, width, left, zero);
                break;
            }
            case u'u':
            case u'x':
            case u'X': {
                const uint64_t value = wide64 ? va_arg(arguments, unsigned long long)
                                              : va_arg(arguments, unsigned int);
                putNumber(out, value, false, *p == u'u' ? 10 : 16, *p == u'X', width, left, zero);
                break;
            }
            case u'c': {
                const char16_t unit = static_cast<char16_t>(va_arg(arguments, int));
                putPadded(out, &unit, 1, width, left, false, false);
                break;
            }
            case u's': {
                const char16_t* text = va_arg(arguments, const char16_t*);
                if (text == nullptr) text = u"(null)";
                putPadded(out, text, text16Length(text, SIZE_MAX), width, left, false, false);
                break;
            }
            case u'S': {
                const char* text = va_arg(arguments, const char*);
                if (text == nullptr) text = "(null)";
                const size_t length = std::strlen(text);
                const size_t pad = width > 0 && static_cast<size_t>(width) > length ? width - length : 0;
                if (!left) {
                    for (size_t i = 0; i < pad; ++i) out.put(u' ');
                }
                for (size_t i = 0; i < length; ++i) out.put(static_cast<unsigned char>(text[i]));
                if (left) {
                    for (size_t i = 0; i < pad; ++i) out.put(u' ');
                }
                break;
            }
            case u'%':
                out.put(u'%');
                break;
            case 0:
                --p;  // a lone '%' at the end prints nothing
                break;
            default:
                out.put(*p);
                break;
        }
    }
    if (out.cut) out.length = wholeCharacterLength(destination, out.length);
    destination[out.length] = 0;
    return static_cast<int>(out.length);
}

int format16(char16_t* destination, size_t capacity, const char16_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int length = vformat16(destination, capacity, format, arguments);
    va_end(arguments);
    return length;
}

std::string toUtf8(const char16_t* text) {
    std::string result;
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        if (code < 0x80) {
            result += static_cast<char>(code);
        } else if (code < 0x800) {
            result += static_cast<char>(0xC0 | (code >> 6));
            result += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            result += static_cast<char>(0xE0 | (code >> 12));
            result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            result += static_cast<char>(0xF0 | (code >> 18));
            result += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return result;
}

std::u16string fromUtf8(const std::string& text) {
    std::u16string result;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        uint32_t code = 0xFFFD;
        size_t extra = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            extra = 3;
        }
        ++i;
        for (size_t k = 0; k < extra; ++k, ++i) {
            if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
                code = 0xFFFD;
                break;
            }
            code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        }
        if (code >= 0x10000 && code <= 0x10FFFF) {
            code -= 0x10000;
            result += static_cast<char16_t>(0xD800 + (code >> 10));
            result += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            result += static_cast<char16_t>(code > 0x10FFFF ? 0xFFFD : code);
        }
    }
    return result;
}

}  // namespace tarvelon
