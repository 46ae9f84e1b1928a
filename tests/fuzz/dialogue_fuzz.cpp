// Fuzz target for the start-up dialogue: any bytes are read as the three
// answers, the way the program reads them, and each answer is checked against
// a separate reference reader that parses the digits with unbounded precision.
#include "dialogue.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char *const prompts[3] = {
    "Please enter the x-position(1-500 max): ",
    "Please enter the y-position(1-200 max): ",
    "Please enter window size(100-500): ",
};

// the program's own answer buffer size
constexpr std::size_t answerSize = 64;

[[noreturn]] void mismatch(int answer, const char *what, long long expected, long long observed)
{
    std::fprintf(stderr, "answer %d: %s: expected %lld observed %lld\n", answer + 1, what, expected,
                 observed);
    std::abort();
}

// whitespace as the C locale has it; NUL is not whitespace
bool cSpace(std::uint8_t b)
{
    return b == ' ' || b == '\t' || b == '\n' || b == '\v' || b == '\f' || b == '\r';
}

// optional sign, then the leading digits compared as a decimal string, so
// that any number of digits saturates without arithmetic overflow
long long referenceValue(const std::uint8_t *token, std::size_t len)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < len && (token[i] == '+' || token[i] == '-'))
        negative = token[i++] == '-';
    while (i < len && token[i] == '0')
        i++;
    std::string digits;
    while (i < len && token[i] >= '0' && token[i] <= '9')
        digits += static_cast<char>(token[i++]);
    const std::string limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit))
        digits = limit;
    long long value = 0;
    for (const char d : digits)
        value = value * 10 + (d - '0');
    return negative ? -value : value;
}

// the stored token must come from this answer's own bytes: same first byte,
// and every stored byte found in order within the token
bool storedFromToken(const char *stored, const std::uint8_t *token, std::size_t len)
{
    const std::size_t storedLen = std::strlen(stored);
    if (storedLen == 0)
        return len == 0 || token[0] == 0;
    if (len == 0 || static_cast<std::uint8_t>(stored[0]) != token[0])
        return false;
    std::size_t t = 0;
    for (std::size_t s = 0; s < storedLen; s++) {
        while (t < len && token[t] != static_cast<std::uint8_t>(stored[s]))
            t++;
        if (t == len)
            return false;
        t++;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // fmemopen takes a non-const buffer even for reading
    std::string input(reinterpret_cast<const char *>(data), size);
    std::FILE *in = fmemopen(size ? &input[0] : nullptr, size, "r");
    if (!in)
        in = std::fopen("/dev/null", "r");
    char *written = nullptr;
    std::size_t writtenSize = 0;
    std::FILE *out = open_memstream(&written, &writtenSize);

    // exactly the program's size on the heap, so any write past it is caught
    char *answer = static_cast<char *>(std::malloc(answerSize));
    answer[0] = '\0';
    char before[answerSize];

    std::size_t pos = 0;
    long long previous = 0;
    for (int i = 0; i < 3; i++) {
        std::memcpy(before, answer, answerSize);
        const int observed = askAnswer(prompts[i], in, out, answer, answerSize);

        while (pos < size && cSpace(data[pos]))
            pos++;
        const std::size_t start = pos;
        while (pos < size && !cSpace(data[pos]))
            pos++;
        const std::size_t len = pos - start;

        long long expected = previous;
        if (len == 0) {
            // end of input: the buffer is left as it was
            if (std::memcmp(before, answer, answerSize) != 0)
                mismatch(i, "buffer changed at end of input", 0, 1);
        } else {
            expected = referenceValue(data + start, len);
            if (!std::memchr(answer, '\0', answerSize))
                mismatch(i, "token not terminated within its buffer", 1, 0);
            if (!storedFromToken(answer, data + start, len))
                mismatch(i, "stored token is not from this answer", 1, 0);
        }
        if (observed != expected)
            mismatch(i, "value", expected, observed);
        const long where = std::ftell(in);
        if (where != static_cast<long>(pos))
            mismatch(i, "stream position", static_cast<long long>(pos), where);
        previous = expected;
    }

    std::fclose(out);
    const std::string expectedText = std::string(prompts[0]) + prompts[1] + prompts[2];
    if (std::string(written, writtenSize) != expectedText)
        mismatch(3, "prompt bytes written", static_cast<long long>(expectedText.size()),
                 static_cast<long long>(writtenSize));
    std::free(written);
    std::free(answer);
    std::fclose(in);
    return 0;
}
