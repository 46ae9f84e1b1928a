// Answer conversion and the token reader, over in-memory streams.
#include "dialogue.h"

#include <gtest/gtest.h>

#include <climits>
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

struct Dialogue {
    int values[3];
    std::string written;
    long position; // where the input stands after the third answer
};

// Runs the three questions the way the program does, over the given input.
Dialogue runDialogue(const std::string &input)
{
    std::FILE *in = tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    char *outText = nullptr;
    std::size_t outSize = 0;
    std::FILE *out = open_memstream(&outText, &outSize);

    Dialogue d{};
    char token[64] = "";
    for (int i = 0; i < 3; i++)
        d.values[i] = askAnswer(prompts[i], in, out, token, sizeof token);
    d.position = std::ftell(in);

    std::fclose(out);
    d.written.assign(outText, outSize);
    free(outText);
    std::fclose(in);
    return d;
}

struct ConversionCase {
    const char *token;
    int value;
};

class Conversion : public testing::TestWithParam<ConversionCase> {};

TEST_P(Conversion, LeadingSignAndDigits)
{
    EXPECT_EQ(answerToInt(GetParam().token), GetParam().value)
        << "token \"" << GetParam().token << "\"";
}

INSTANTIATE_TEST_SUITE_P(Tokens, Conversion,
                         testing::Values(ConversionCase{"120", 120}, ConversionCase{"+7", 7},
                                         ConversionCase{"-15", -15}, ConversionCase{"42abc", 42},
                                         ConversionCase{"abc", 0}, ConversionCase{"-", 0},
                                         ConversionCase{"+", 0}, ConversionCase{"", 0},
                                         ConversionCase{"--5", 0}, ConversionCase{"+-5", 0},
                                         ConversionCase{"0", 0}, ConversionCase{"-0", 0},
                                         ConversionCase{"007", 7}, ConversionCase{"1e3", 1},
                                         ConversionCase{"12.9", 12}, ConversionCase{"700", 700}));

INSTANTIATE_TEST_SUITE_P(
    Overflow, Conversion,
    testing::Values(ConversionCase{"2147483647", INT_MAX}, ConversionCase{"2147483648", INT_MAX},
                    ConversionCase{"+2147483648", INT_MAX}, ConversionCase{"-2147483647", -INT_MAX},
                    ConversionCase{"-2147483648", INT_MIN}, ConversionCase{"-2147483649", INT_MIN},
                    ConversionCase{"99999999999999999999", INT_MAX},
                    ConversionCase{"-99999999999999999999", INT_MIN},
                    ConversionCase{"4294967296", INT_MAX}, ConversionCase{"4294967395x", INT_MAX}));

struct DialogueCase {
    const char *name;
    std::string input;
    int x, y, size;
};

class Answers : public testing::TestWithParam<DialogueCase> {};

TEST_P(Answers, AllThreePromptsAreWrittenAndAnswered)
{
    const DialogueCase &c = GetParam();
    const Dialogue d = runDialogue(c.input);
    EXPECT_EQ(d.values[0], c.x);
    EXPECT_EQ(d.values[1], c.y);
    EXPECT_EQ(d.values[2], c.size);
    EXPECT_EQ(d.written, std::string(prompts[0]) + prompts[1] + prompts[2]);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Answers,
    testing::Values(
        DialogueCase{"OnePerLine", "50\n60\n300\n", 50, 60, 300},
        DialogueCase{"AllOnOneLine", "50 60 300\n", 50, 60, 300},
        DialogueCase{"BlankLinesSkipped", "\n\n  50\n\n\t60\r\n\n300\n", 50, 60, 300},
        DialogueCase{"Garbage", "abc -15 42abc\n", 0, -15, 42},
        DialogueCase{"UncheckedRanges", "700 -3 0\n", 700, -3, 0},
        DialogueCase{"EndBeforeFirst", "", 0, 0, 0}, DialogueCase{"OnlyBlanks", "\n \n\t", 0, 0, 0},
        DialogueCase{"EndBeforeSecond", "50\n", 50, 50, 50},
        DialogueCase{"EndBeforeThird", "50 60", 50, 60, 60},
        DialogueCase{"EndAfterGarbage", "x12", 0, 0, 0},
        DialogueCase{"LongTokenTailNotAnAnswer", std::string(1 << 20, '7') + " 60 300\n", INT_MAX,
                     60, 300},
        DialogueCase{"LongGarbageToken", std::string(1 << 20, 'a') + "\n60\n300\n", 0, 60, 300},
        DialogueCase{"LongZeroPaddedToken", "-" + std::string(1 << 20, '0') + "15 60 300", -15, 60,
                     300},
        DialogueCase{"LongLastToken", "1 2 " + std::string(1 << 20, '5'), 1, 2, INT_MAX},
        DialogueCase{"NulInsideToken",
                     std::string("12\0"
                                 "34 5 6",
                                 9),
                     12, 5, 6}),
    [](const testing::TestParamInfo<DialogueCase> &info) { return info.param.name; });

TEST(Reader, LeavesTheTerminatorAndTheRestOfTheLineInTheStream)
{
    const Dialogue d = runDialogue("1 2 3 rest\n");
    EXPECT_EQ(d.position, 5);
}

TEST(Reader, KeepsThePreviousTokenAtEndOfInput)
{
    std::FILE *in = tmpfile();
    char token[8] = "42";
    EXPECT_FALSE(readAnswer(in, token, sizeof token));
    EXPECT_STREQ(token, "42");
    std::fclose(in);
}

TEST(Reader, NeverWritesPastItsStorage)
{
    std::FILE *in = tmpfile();
    std::fputs("123456789 next", in);
    std::rewind(in);
    char storage[8];
    std::memset(storage, '#', sizeof storage);
    ASSERT_TRUE(readAnswer(in, storage, 4));
    EXPECT_STREQ(storage, "123");
    EXPECT_EQ(std::string(storage + 4, 4), "####");
    EXPECT_EQ(std::getc(in), ' ');
    std::fclose(in);
}

} // namespace
