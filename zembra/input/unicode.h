// Code points as the interpreter's str methods see them.
//
// Texts here are UTF-8, except that a lone surrogate (which the JSON reader
// keeps, as the interpreter's json module does) is held as its three-byte
// encoding. The tables follow the interpreter's Unicode 15.1 data.
#pragma once

#include <cstddef>
#include <string_view>

namespace zembra::input {

// The code point starting at p (well-formed input assumed); advances p.
char32_t next_code_point(const char*& p);

// str.isspace() of one code point (also re's \s).
bool is_space(char32_t c);

// The value 0..9 of a decimal digit of any script (str.isdecimal(), re's
// \d, what int() and float() read), or -1.
int decimal_value(char32_t c);

// Characters a case-insensitive pattern [a-z] matches beyond the ASCII
// letters: U+0130, U+0131, U+017F and U+212A fold onto i, s and k.
bool is_letter_ignoring_case(char32_t c);

std::size_t code_point_count(std::string_view text);
bool is_ascii(std::string_view text);

// str.strip(): whitespace of any script removed at both ends.
std::string_view strip_spaces(std::string_view text);

// re's "$" without MULTILINE: the end, or just before a final "\n".
std::string_view drop_final_newline(std::string_view text);

}  // namespace zembra::input
