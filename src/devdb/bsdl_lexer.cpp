#include "devdb/bsdl_lexer.h"

#include <algorithm>

#include "devdb/bsdl.h"

namespace bsdl_reader {

void Lexer::next() {
    text_.clear();
    overlong_ = false;
    for (;;) {
        const int c = get();
        if (c < 0) {
            kind_ = TokenKind::End;
            return;
        }
        if (c == '-' && !quoted_) {
            const int d = get();
            if (d == '-') {
                skip_comment();
            } else if (d >= 0) {
                unget();
            }
            continue;  // a single '-' is dropped
        }
        if (string_mode_) {
            if (c == '"') {
                if (!text_.empty()) {
                    unget();
                    quoted_ = true;  // the '"' pushed back closes the text
                    kind_ = TokenKind::Text;
                    return;
                }
                quoted_ = !quoted_;
                append(c);
                kind_ = TokenKind::Char;
                return;
            }
            if (c >= 0x20 && c < 0x7F) append(c);
            continue;
        }
        if (c <= ' ' || c == 0x7F || c == '-') continue;  // '-' here stands between quotes
        append(c);
        if (is_letter(c) || c == '_') {
            kind_ = TokenKind::Identifier;
            take_word(true);
        } else if (is_digit(c)) {
            kind_ = TokenKind::Number;
            take_word(false);
        } else {
            if (c == '"') quoted_ = !quoted_;
            kind_ = TokenKind::Char;
        }
        return;
    }
}

int Lexer::get() {
    if (p_ == end_) return -1;
    const unsigned char c = static_cast<unsigned char>(*p_++);
    if (c == '\n') {
        ++line_;
        quoted_ = false;  // a string literal ends with its line
    }
    return c;
}

void Lexer::unget() {
    --p_;
    if (*p_ == '\n') --line_;
}

void Lexer::skip_comment() {
    for (int c = get(); c >= 0; c = get()) {
        if (c == '\n' || c == '\r') return;
    }
}

void Lexer::take_word(bool identifier) {
    for (int c = get(); c >= 0; c = get()) {
        if (!is_letter(c) && !is_digit(c) && !(identifier && c == '_')) {
            unget();
            return;
        }
        append(c);
    }
}

void Lexer::append(int c) {
    if (static_cast<int>(text_.size()) < kBsdlMaxToken) {
        text_.push_back(static_cast<char>(c));
    } else {
        text_.back() = static_cast<char>(c);
        overlong_ = true;
    }
}

long number_value(const std::string& text) {
    long value = 0;
    for (char c : text) {
        if (!is_digit(c)) break;
        value = std::min(value * 10 + (c - '0'), 999'999'999L);
    }
    return value;
}

std::string printable(std::string text) {
    for (char& c : text) {
        if (c < 0x20 || c >= 0x7F) c = '?';
    }
    return text;
}

}  // namespace bsdl_reader
