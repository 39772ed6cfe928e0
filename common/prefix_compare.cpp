// PrefixCompare: comparing a text's start with a prefix.
#include "prefix_compare.h"

int PrefixCompare(const char *prefix, const char *text) {
    while (*prefix != '\0' && *prefix == *text) {
        ++prefix;
        ++text;
    }
    if (*prefix == '\0') return 0;
    return static_cast<signed char>(*prefix) - static_cast<signed char>(*text);
}
