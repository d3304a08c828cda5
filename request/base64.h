#pragma once

// Decodes Base64 (standard alphabet) in place, one pass. CR and LF are
// skipped; the first byte outside the alphabet, '=' included, ends the text.
// Returns the text, now zero-terminated after the decoded bytes.
char* DecodeBase64(char* text);
