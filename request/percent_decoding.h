#pragma once

// Decodes "+" and "%XX" escapes of a zero-terminated form text in place, in
// one pass: a byte that decoding produced is never decoded again. A "%" not
// followed by two hexadecimal digits stays a literal "%".
void PercentDecode(char* text);
