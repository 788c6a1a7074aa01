// Inside the BSDL reader: the tokeniser. One token per call, with its kind and the line it ends
// on; comments, blanks and control characters between tokens are passed over.
#pragma once

#include <cstddef>
#include <string>

namespace bsdl_reader {

enum class TokenKind { End, Identifier, Number, Char, Text };

inline bool is_letter(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

class Lexer {
  public:
    Lexer(const char* text, size_t size) : p_(text), end_(text + size) {}

    // Reads the next token. A token longer than kBsdlMaxToken keeps its first characters and
    // takes each further character in its last place; overlong() tells the caller to say so.
    void next();

    TokenKind kind() const { return kind_; }
    const std::string& text() const { return text_; }
    bool overlong() const { return overlong_; }
    int line() const { return line_; }
    // While on, everything printable up to the next '"' is one Text token (design warnings).
    void set_string_mode(bool on) { string_mode_ = on; }

  private:
    int get();
    void unget();
    void skip_comment();
    void take_word(bool identifier);
    void append(int c);

    const char* p_;
    const char* end_;
    int line_ = 1;
    bool string_mode_ = false;
    // Between a '"' and its partner on the same line: "--" there is text, not a comment.
    bool quoted_ = false;
    bool overlong_ = false;
    TokenKind kind_ = TokenKind::End;
    std::string text_;
};

// Decimal value of a number token's leading digits, held below a billion so that no arithmetic
// on it can overflow.
long number_value(const std::string& text);

// A token as the messages show it: bytes outside printable ASCII (binary input) become '?'.
std::string printable(std::string text);

}  // namespace bsdl_reader
