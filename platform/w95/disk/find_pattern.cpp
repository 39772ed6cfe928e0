// File name patterns of FindFirstFileA.
#include "find_pattern.h"

#include <vector>

#include "file_names.h"

namespace w95 {

bool MatchesPattern(std::string_view pattern, std::string_view name) {
    if (pattern.size() > 1 && pattern.back() == '.' &&
        pattern.find_first_not_of('.') != std::string_view::npos) {
        if (name.find('.') != std::string_view::npos) return false;
        while (!pattern.empty() && pattern.back() == '.') {
            pattern.remove_suffix(1);
        }
    }
    const size_t m = pattern.size();
    const size_t n = name.size();
    // match[i][j]: pattern from i matches name from j. Filled backwards, so
    // a row needs only the row after it.
    std::vector<char> next(n + 1, 0), row(n + 1, 0);
    next[n] = 1;  // the empty pattern matches only the empty rest
    for (size_t i = m; i-- > 0;) {
        char p = pattern[i];
        for (size_t j = n + 1; j-- > 0;) {
            bool atEnd = j == n;
            bool ok = false;
            if (p == '*') {
                ok = next[j] || (!atEnd && row[j + 1]);
            } else if (p == '?') {
                ok = (!atEnd && name[j] != '.' && next[j + 1]) ||
                     ((atEnd || name[j] == '.') && next[j]);
            } else if (p == '.') {
                ok = (!atEnd && name[j] == '.' && next[j + 1]) ||
                     (atEnd && next[j]);
            } else {
                ok = !atEnd && FoldCase(name[j]) == FoldCase(p) && next[j + 1];
            }
            row[j] = ok ? 1 : 0;
        }
        next.swap(row);
    }
    return next[0] != 0;
}

}  // namespace w95
