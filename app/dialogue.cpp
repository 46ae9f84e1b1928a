// Console dialogue: the start-up questions are answered by whitespace-separated
// tokens, so one line may answer all three and blank lines are skipped.
#include "dialogue.h"

#include <cctype>
#include <climits>

bool readAnswer(std::FILE *in, char *token, std::size_t size)
{
    int c;
    do
        c = std::getc(in);
    while (c != EOF && std::isspace(c));
    if (c == EOF)
        return false;

    std::size_t len = 0;
    std::size_t lead = 0;
    for (; c != EOF && !std::isspace(c); c = std::getc(in)) {
        if (len == 0 && (c == '+' || c == '-'))
            lead = 1;
        // zeros ahead of the first significant digit carry no value; keeping
        // only one lets an arbitrarily padded number still convert exactly
        if (c == '0' && len == lead + 1 && token[lead] == '0')
            continue;
        // the tail of an over-long token is consumed, never stored
        if (len + 1 < size)
            token[len++] = static_cast<char>(c);
    }
    token[len] = '\0';
    if (c != EOF)
        std::ungetc(c, in);
    return true;
}

int answerToInt(const char *token)
{
    const char *p = token;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';

    // saturating keeps the accumulation defined however many digits follow
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit)
            magnitude = limit;
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int askAnswer(const char *prompt, std::FILE *in, std::FILE *out, char *token, std::size_t size)
{
    std::fputs(prompt, out);
    readAnswer(in, token, size);
    return answerToInt(token);
}
