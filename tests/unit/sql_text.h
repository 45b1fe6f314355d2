// Regenerated SQL as tests compare it: the tree keeps its own spacing, so blanks are
// collapsed and none is left before a comma (an empty direction leaves one there).
#pragma once

#include <string>

namespace sqltest {

inline std::string Collapsed(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ',' && !out.empty() && out.back() == ' ')
            out.pop_back();
        if (c != ' ' || (!out.empty() && out.back() != ' '))
            out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

}  // namespace sqltest
