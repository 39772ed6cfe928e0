#include "short_names.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <set>

#include "code_page.h"

namespace w95 {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// Characters that a short name may hold (bytes above 0x7F included, as on
// a Western code page).
bool ShortNameChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) return true;
    if (u <= ' ') return false;
    return std::strchr("\"*+,./:;<=>?[\\]|", c) == nullptr;
}

bool ShortPart(std::string_view part, std::size_t longest) {
    return part.size() <= longest &&
           std::all_of(part.begin(), part.end(), ShortNameChar);
}

}  // namespace

bool IsShortName(std::string_view name) {
    if (name == "." || name == "..") return true;
    std::size_t dot = name.find('.');
    if (dot == std::string_view::npos)
        return !name.empty() && ShortPart(name, 8);
    return dot > 0 && ShortPart(name.substr(0, dot), 8) &&
           ShortPart(name.substr(dot + 1), 3);
}

std::vector<std::string> ShortNames(const std::vector<std::string> &names) {
    std::vector<std::string> aliases(names.size());
    std::set<std::string> taken;
    for (const std::string &name : names) {
        if (!IsShortName(name)) continue;
        std::string upper;
        for (char c : name) upper += Upper(c);
        taken.insert(upper);
    }
    std::vector<std::size_t> order(names.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return CompareNames(names[a], names[b]) < 0;
    });
    for (std::size_t i : order) {
        const std::string &name = names[i];
        if (IsShortName(name)) continue;
        std::size_t dot = name.rfind('.');
        if (dot == 0) dot = std::string::npos;  // ".profile": no extension
        std::string base, extension;
        auto keep = [](std::string_view from, std::string &into,
                       std::size_t longest) {
            for (char c : from) {
                if (into.size() == longest) break;
                if (c == ' ' || c == '.') continue;
                into += ShortNameChar(c) ? Upper(c) : '_';
            }
        };
        keep(std::string_view(name).substr(0, dot), base, 6);
        if (dot != std::string::npos)
            keep(std::string_view(name).substr(dot + 1), extension, 3);
        if (base.empty()) base = "_";
        for (int n = 1;; ++n) {
            std::string tail = "~" + std::to_string(n);
            std::string alias =
                base.substr(
                    0, std::min<std::size_t>(base.size(), 8 - tail.size())) +
                tail;
            if (!extension.empty()) alias += "." + extension;
            if (taken.insert(alias).second) {
                aliases[i] = alias;
                break;
            }
        }
    }
    return aliases;
}

}  // namespace w95
