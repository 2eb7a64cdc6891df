// One problem the builder found in its input, kept with its place so that
// problems from every part of a description can be put in the file's order,
// and printed as "file:line: message" (with "column N: " before the message
// when the column is known).
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace quillmar {

struct Diagnostic {
    std::string file;
    int line = 0;    // 1-based; 0 when the problem belongs to no line
    int column = 0;  // 1-based character column; 0 when not known
    std::string message;

    std::string text() const {
        std::string out = file + ":" + std::to_string(line) + ": ";
        if (column > 0) out += "column " + std::to_string(column) + ": ";
        return out + message;
    }
};

// Puts diagnostics in the order of their lines; those of one line keep the
// order in which they were found.
inline void sort_by_line(std::vector<Diagnostic>& diagnostics) {
    std::stable_sort(diagnostics.begin(), diagnostics.end(),
                     [](const Diagnostic& a, const Diagnostic& b) { return a.line < b.line; });
}

}  // namespace quillmar
