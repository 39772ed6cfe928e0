// PrefixCompare: comparing a text's start with a prefix.
#ifndef COMMON_PREFIX_COMPARE_H
#define COMMON_PREFIX_COMPARE_H

// 0 when `text` begins with `prefix` (byte-wise, case matters). Otherwise the
// difference of the first differing characters, prefix minus text, each taken
// as a signed 8-bit value; the text's closing NUL counts as 0.
int PrefixCompare(const char *prefix, const char *text);

#endif
