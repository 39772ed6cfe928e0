// user32's formatting calls, wsprintfA and wvsprintfA, with the Windows
// rules rather than the C library's:
//  - a field is %[-][#][0][width][.precision]type, its flags in that order
//    and each at most once; no '*', no '+' or ' ', no floating point;
//  - types c, d, i, u, x, X and s, with h (a single-byte char or string)
//    or l (a long: 32 bits on Windows) before them; h leaves numbers whole;
//  - the precision of a number is its least count of characters, a minus
//    sign included; of a string its most characters, 0 meaning no limit;
//  - '0' pads a number with zeros to the width; '#' then puts 0x or 0X in
//    front of a hexadecimal number without counting it in the width;
//  - a NULL string shows as "(null)";
//  - a '%' followed by anything else gives that character ("%%" gives '%');
//  - the output stops at 1023 characters and a NUL, as the real buffer
//    holds at most 1024 bytes, and a cut output counts as 1024.
// An 'l' argument is read as the host's long (callers cast to long or
// unsigned long, as on Windows) and taken to its low 32 bits.
#include <windows.h>

#include <cstdint>

#include "fault_injection.h"

namespace {

constexpr int kOutputLimit = 1024;  // bytes, the NUL included

class Output {
  public:
    explicit Output(LPSTR buffer) : buffer_(buffer) {}
    void Put(char c) {
        if (length_ < kOutputLimit - 1) buffer_[length_++] = c;
    }
    void Repeat(char c, int count) {  // nothing for a count below 1
        for (int i = 0; i < count; ++i) Put(c);
    }
    // The length of the output, or 1024 when it filled the buffer.
    int Finish() {
        buffer_[length_] = '\0';
        return length_ < kOutputLimit - 1 ? length_ : kOutputLimit;
    }

  private:
    LPSTR buffer_;
    int length_ = 0;
};

struct Field {
    bool left = false;    // '-'
    bool prefix = false;  // '#'
    bool zeros = false;   // '0'
    int width = 0;
    int precision = -1;  // none
    char size = 0;       // 'h', 'l' or 0
    char type = 0;
};

// Reads the field after a '%'; *format then points at its type character.
Field ParseField(const char *&format) {
    Field field;
    if (*format == '-') {
        field.left = true;
        ++format;
    }
    if (*format == '#') {
        field.prefix = true;
        ++format;
    }
    if (*format == '0') {
        field.zeros = true;
        ++format;
    }
    while (*format >= '0' && *format <= '9')
        field.width = field.width * 10 + (*format++ - '0');
    if (*format == '.') {
        ++format;
        field.precision = 0;
        while (*format >= '0' && *format <= '9')
            field.precision = field.precision * 10 + (*format++ - '0');
    }
    if (*format == 'h' || *format == 'l') field.size = *format++;
    field.type = *format;
    if (field.left) field.zeros = false;  // '-' wins over '0'
    return field;
}

// Puts `body` (length characters) into its field, padded with blanks to
// the width on the left, or on the right ('-').
void PutPadded(Output &out, const Field &field, const char *body, int length) {
    int pad = field.width - length;
    if (pad < 0) pad = 0;
    if (!field.left) out.Repeat(' ', pad);
    for (int i = 0; i < length; ++i) out.Put(body[i]);
    if (field.left) out.Repeat(' ', pad);
}

void PutNumber(Output &out, const Field &field, va_list &args) {
    bool isSigned = field.type == 'd' || field.type == 'i';
    std::uint32_t bits;
    if (field.size == 'l') {
        bits = isSigned
                   ? static_cast<std::uint32_t>(va_arg(args, long))
                   : static_cast<std::uint32_t>(va_arg(args, unsigned long));
    } else {
        bits = static_cast<std::uint32_t>(va_arg(args, int));
    }
    bool negative = isSigned && static_cast<std::int32_t>(bits) < 0;
    std::uint32_t magnitude = negative ? 0u - bits : bits;
    unsigned base = field.type == 'x' || field.type == 'X' ? 16 : 10;
    const char *digits =
        field.type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    char text[16];  // 32 bits in decimal, from the end
    int length = 0;
    do {
        text[sizeof text - 1 - length++] = digits[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    // The characters of the number, its sign included, come to at least
    // the precision, or with '0' the width; the 0x prefix stands outside.
    int shown = length + (negative ? 1 : 0);
    int least = field.precision > shown ? field.precision : shown;
    if (field.zeros && field.width > least) least = field.width;
    if (least > kOutputLimit - 1) least = kOutputLimit - 1;
    if (!field.left) out.Repeat(' ', field.width - least);
    if (base == 16 && field.prefix) {
        out.Put('0');
        out.Put(field.type);
    }
    if (negative) out.Put('-');
    out.Repeat('0', least - shown);
    for (int i = 0; i < length; ++i) out.Put(text[sizeof text - length + i]);
    if (field.left) out.Repeat(' ', field.width - least);
}

void PutString(Output &out, const Field &field, const char *text) {
    if (text == nullptr) text = "(null)";
    int length = 0;
    while (text[length] != '\0' &&
           (field.precision <= 0 || length < field.precision))
        ++length;
    PutPadded(out, field, text, length);
}

int Format(LPSTR output, LPCSTR format, va_list arglist) {
    Output out(output);
    va_list args;
    va_copy(args, arglist);
    for (const char *p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            out.Put(*p);
            continue;
        }
        ++p;
        Field field = ParseField(p);
        if (*p == '\0') break;
        switch (field.type) {
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
                PutNumber(out, field, args);
                break;
            case 'c': {
                char c = static_cast<char>(va_arg(args, int));
                PutPadded(out, field, &c, 1);
                break;
            }
            case 's':
                PutString(out, field, va_arg(args, const char *));
                break;
            default:
                out.Put(field.type);
                break;
        }
    }
    va_end(args);
    return out.Finish();
}

}  // namespace

extern "C" {

// Neither call has a failure result: only a planned crash reaches them.
int WINAPI wvsprintfA(LPSTR lpOutput, LPCSTR lpFmt, va_list arglist) {
    w95::InjectedFault("wvsprintfA");
    return Format(lpOutput, lpFmt, arglist);
}

int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
    w95::InjectedFault("wsprintfA");
    va_list args;
    va_start(args, lpFmt);
    int length = Format(lpOut, lpFmt, args);
    va_end(args);
    return length;
}

}  // extern "C"
