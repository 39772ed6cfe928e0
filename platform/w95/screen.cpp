// Drawing message boxes and dialogs on the terminal.
#include "screen.h"

#include <algorithm>
#include <cstdio>

namespace w95 {

namespace {

constexpr int kWrapWidth = 72;

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Byte offset of the character at index `chars` of a UTF-8 text.
std::size_t OffsetOf(const std::string &utf8, int chars) {
    std::size_t i = 0;
    for (int n = 0; i < utf8.size(); ++i) {
        if (IsContinuationByte(utf8[i])) continue;
        if (n++ == chars) return i;
    }
    return utf8.size();
}

std::string Spaces(int n) { return std::string(std::max(n, 0), ' '); }

// Splits a text into lines at CR LF, LF or CR, tabs to blanks, other
// control characters to blanks so that the frame stays intact.
std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else if (c == '\t') {
            lines.back() += "    ";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            lines.back() += ' ';
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

// Wraps one line at blanks (or hard, inside a long word) to `width`.
void WrapLine(const std::string &line, int width,
              std::vector<std::string> *out) {
    std::string rest = line;
    while (TextWidth(rest) > width) {
        std::size_t cut = OffsetOf(rest, width);
        std::size_t blank = rest.rfind(' ', cut);
        if (blank != std::string::npos && blank > 0) {
            out->push_back(rest.substr(0, blank));
            rest = rest.substr(blank + 1);
        } else {
            out->push_back(rest.substr(0, cut));
            rest = rest.substr(cut);
        }
    }
    out->push_back(rest);
}

std::string Padded(const std::string &text, int width) {
    return text + Spaces(width - TextWidth(text));
}

// The frame around `body` lines, `inner` characters wide, with the title
// in the top edge.
std::string Framed(const std::string &title,
                   const std::vector<std::string> &body, int inner) {
    inner = std::max(inner, TextWidth(title) + 4);
    std::string top = "+-";
    if (!title.empty()) {
        top += "[ ";
        top += title;
        top += " ]";
    }
    top += std::string(std::max(inner + 3 - TextWidth(top), 0), '-');
    top += "+\n";
    std::string picture = top;
    for (const std::string &line : body) {
        picture += "| ";
        picture += Padded(line, inner);
        picture += " |\n";
    }
    picture += '+';
    picture.append(static_cast<std::size_t>(inner) + 2, '-');
    picture += "+\n";
    return picture;
}

}  // namespace

int TextWidth(const std::string &utf8) {
    int n = 0;
    for (char c : utf8)
        if (!IsContinuationByte(c)) ++n;
    return n;
}

std::string MessageBoxPicture(const std::string &caption,
                              const std::string &text, const std::string &icon,
                              const std::vector<ScreenButton> &buttons) {
    std::vector<std::string> lines;
    for (const std::string &line : SplitLines(text))
        WrapLine(line, kWrapWidth, &lines);

    std::string indent = icon.empty() ? "" : Spaces(TextWidth(icon) + 2);
    std::vector<std::string> body;
    body.emplace_back();
    for (std::size_t i = 0; i < lines.size(); ++i)
        body.push_back((i == 0 && !icon.empty() ? icon + "  " : indent) +
                       lines[i]);
    body.emplace_back();

    std::string row;
    for (const ScreenButton &b : buttons) {
        if (!row.empty()) row += "  ";
        row += b.isDefault ? "<" + b.label + ">" : "[" + b.label + "]";
    }
    int inner = TextWidth(row);
    for (const std::string &line : body)
        inner = std::max(inner, TextWidth(line));
    inner = std::max(inner, TextWidth(caption) + 4);
    body.push_back(Spaces((inner - TextWidth(row)) / 2) + row);
    return Framed(caption, body, inner);
}

std::string DialogPicture(const std::string &title, int columns, int rows,
                          const std::vector<ScreenControl> &controls) {
    int width = std::max(columns, 1);
    int height = std::max(rows, 1);
    for (const ScreenControl &c : controls) {
        width =
            std::max(width, c.column + std::max(c.width, TextWidth(c.text)));
        height = std::max(height, c.row + 1);
    }
    // Cells hold whole UTF-8 characters, so the canvas is a grid of strings.
    std::vector<std::vector<std::string>> cells(
        height, std::vector<std::string>(width, " "));
    for (const ScreenControl &c : controls) {
        int textWidth = TextWidth(c.text);
        int start = c.column;
        if (textWidth < c.width) {
            if (c.align == 'c') start += (c.width - textWidth) / 2;
            if (c.align == 'r') start += c.width - textWidth;
        }
        int col = start;
        for (std::size_t i = 0; i < c.text.size() && col < width;) {
            std::size_t len = 1;
            while (i + len < c.text.size() &&
                   IsContinuationByte(c.text[i + len]))
                ++len;
            if (c.row >= 0 && c.row < height && col >= 0)
                cells[c.row][col] = c.text.substr(i, len);
            i += len;
            ++col;
        }
    }
    std::vector<std::string> body;
    for (const auto &row : cells) {
        std::string line;
        for (const std::string &cell : row) line += cell;
        while (!line.empty() && line.back() == ' ') line.pop_back();
        body.push_back(line);
    }
    // Blank rows below the last control say nothing; one stays as margin.
    while (body.size() > 1 && body.back().empty() &&
           body[body.size() - 2].empty())
        body.pop_back();
    return Framed(title, body, width);
}

void ShowOnScreen(const std::string &picture) {
    std::fflush(stdout);
    std::fputs(picture.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace w95
