// UTF-8 as the tools check it: definition files must be well-formed, and
// reports in formats that must be UTF-8 replace each ill-formed byte.
#ifndef COMMON_UTF8_H_
#define COMMON_UTF8_H_

#include <cstddef>
#include <string>

namespace Utf8 {

// The length of the well-formed UTF-8 sequence at text[at], or 0 when none
// begins there. Overlong forms, surrogates and code points past U+10FFFF are
// ill-formed.
size_t SequenceLength(const std::string& text, size_t at);

}  // namespace Utf8

#endif  // COMMON_UTF8_H_
