// File name patterns of FindFirstFileA.
#ifndef W95_FIND_PATTERN_H
#define W95_FIND_PATTERN_H

#include <string_view>

namespace w95 {

// Whether `name` matches `pattern` as Windows matches long names, without
// regard to case: "*" is any run of characters, "?" one character other
// than a dot (or none at a dot or at the end of the name), a "." may match
// the end of a name ("FOO.*" matches FOO), and a pattern that ends in "."
// matches only names without an extension ("*." matches README).
bool MatchesPattern(std::string_view pattern, std::string_view name);

}  // namespace w95

#endif
