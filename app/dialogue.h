// Console dialogue: prompts, " %s"-style answer tokens and their conversion.
#ifndef CHECKERCUBE_DIALOGUE_H
#define CHECKERCUBE_DIALOGUE_H

#include <cstddef>
#include <cstdio>

// Skips whitespace, then consumes the whole run of non-whitespace that
// follows, keeping at most size - 1 characters of it in token. The character
// that ends the run stays in the stream. At end of input nothing is taken,
// token keeps what it held, and the result is false.
bool readAnswer(std::FILE *in, char *token, std::size_t size);

// Optional sign, then leading decimal digits; anything after them is ignored,
// no digit gives 0, and values beyond int saturate to INT_MAX or INT_MIN.
int answerToInt(const char *token);

// Writes prompt to out, reads one answer from in into token and converts it.
int askAnswer(const char *prompt, std::FILE *in, std::FILE *out, char *token, std::size_t size);

#endif
