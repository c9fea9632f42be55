// The bounded string routines through which every text enters a record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "rpccommon.h"

TEST(MyStrncpy, KeepsAtMostCountCharactersAndAlwaysTerminates)
{
    struct Case {
        const char *src;
        short count;
        const char *want;
    };
    const Case cases[] = {
        {"0123456789", 10, "0123456789"},
        {"0123456789A", 10, "0123456789"},
        {"abc", 0, ""},
        {"abc", 10, "abc"},
        {"", 5, ""},
        {"abc", -3, ""},
    };
    for (const Case &c : cases) {
        char buf[16];
        std::memset(buf, '#', sizeof buf);
        my_strncpy(buf, c.src, c.count);
        EXPECT_STREQ(buf, c.want) << c.src << " / " << c.count;
    }
    // A shorter source leaves the bytes behind its terminator alone.
    char buf[8] = "XXXXXXX";
    my_strncpy(buf, "ab", 7);
    EXPECT_EQ(std::string(buf, 7), std::string("ab\0XXXX", 7));
}

TEST(MyStrncpy, HugeSourcesNeverOverflowTheField)
{
    std::string huge(100000, 'z');
    str10 field;
    char guard[8] = "guard";
    my_strncpy(field, huge.c_str(), 10);
    EXPECT_EQ(std::string(field), std::string(10, 'z'));
    EXPECT_STREQ(guard, "guard");

    setenv("DIALCRED_TEST_HUGE", huge.c_str(), 1);
    char env[36];
    my_getenv("DIALCRED_TEST_HUGE", 35, env);
    EXPECT_EQ(std::string(env), std::string(35, 'z'));
    my_getenv("DIALCRED_TEST_UNSET_VARIABLE", 35, env);
    EXPECT_STREQ(env, "");
}

TEST(Unquote, StripsOnePairOfMatchingQuotes)
{
    struct Case {
        const char *src;
        const char *want;
    };
    const Case cases[] = {
        {"  \"inner text\"  ", "inner text"},
        {"'single'", "single"},
        {"\" keep inner space \"", " keep inner space "},
        {"  \"mismatch'", "  \"mismatch'"},
        {"  \"unclosed x", "  \"unclosed x"},
        {"\"", "\""},
        {"plain", "plain"},
        {"", ""},
    };
    for (const Case &c : cases) {
        char dest[64];
        EXPECT_STREQ(unquote(c.src, dest), c.want) << c.src;
        EXPECT_STREQ(unquote(c.src, nullptr), c.want) << c.src;
    }
    EXPECT_EQ(unquote(nullptr, nullptr), nullptr);
    std::string huge(5000, 'q');
    EXPECT_EQ(std::string(unquote(huge.c_str(), nullptr)).size(), 1000u);
}

TEST(MinMax, PickTheLargerAndTheSmaller)
{
    EXPECT_EQ(Maximum(-3, 2), 2);
    EXPECT_EQ(Minimum(-3, 2), -3);
    EXPECT_EQ(Maximum(7, 7), 7);
}
