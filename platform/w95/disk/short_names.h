// The short (8.3) names that Windows 95's file system gives long names, as
// FindFirstFileA reports them in cAlternateFileName and matches patterns
// against them.
#ifndef W95_SHORT_NAMES_H
#define W95_SHORT_NAMES_H

#include <string>
#include <string_view>
#include <vector>

namespace w95 {

// Whether `name` is already a short name (a base of 1 to 8 and an
// extension of up to 3 characters that a short name may hold), in any case.
bool IsShortName(std::string_view name);

// The short names of a folder's entries, in the order of `names`: "" for a
// name that is short itself, else the alias "LONGFI~1.TEX" made from the
// name's first six characters that a short name may hold, its extension's
// first three, and the lowest number that no other entry's alias has. The
// numbers go to the long names in name order, as a folder made in that
// order would have them.
std::vector<std::string> ShortNames(const std::vector<std::string> &names);

}  // namespace w95

#endif
