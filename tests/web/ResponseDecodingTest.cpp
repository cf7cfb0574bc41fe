#include "web/ResponseDecoding.h"

#include "util/Utf8.h"

#include <gtest/gtest.h>

namespace corvanta {
namespace {

const std::string kChina = "\xE4\xB8\xAD\xE5\x9B\xBD";
const std::string kGbkChina = "\xD6\xD0\xB9\xFA";
const std::string kReplacement = "\xEF\xBF\xBD";
const std::string kMetaUtf8 = "<meta charset=utf-8>";

struct DecodeCase {
    const char* name;
    std::string body;
    std::string expected;
};

class DecodeResponse : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeResponse, DecodesByTheDeclaredOrApparentCharset) {
    const std::string& body = GetParam().body;
    const std::string text = decodeResponseText(body.substr(0, body.find('\0')), body);
    EXPECT_EQ(text, GetParam().expected);
    EXPECT_TRUE(utf8::isValid(text));
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeResponse,
    testing::Values(DecodeCase{"JsonUnchanged", "{\"status\":0,\"data\":\"" + kChina + "\"}",
                               "{\"status\":0,\"data\":\"" + kChina + "\"}"},
                    DecodeCase{"UpperCaseGbkName", "<meta charset=\"GBK\">" + kGbkChina,
                               "<meta charset=\"GBK\">" + kChina},
                    DecodeCase{"LowerCaseGbkName", "<meta charset=gbk>" + kGbkChina,
                               "<meta charset=gbk>" + kChina},
                    DecodeCase{"Utf16", "<meta charset=utf-16le>", "<meta charset=utf-16le>"},
                    // One byte that does not fit the declared charset spoils only itself.
                    DecodeCase{"Utf8WithStrayGbkPair", kMetaUtf8 + kChina + "\xB0\xA1",
                               kMetaUtf8 + kChina + kReplacement + kReplacement},
                    DecodeCase{"Utf8WithStrayFF", kMetaUtf8 + kChina + "\xFF",
                               kMetaUtf8 + kChina + kReplacement},
                    DecodeCase{"GbkWithStrayFF", "<meta charset=gbk>\xD6\xD0\xFF",
                               "<meta charset=gbk>\xE4\xB8\xAD" + kReplacement},
                    // An unknown charset is read like an undeclared body.
                    DecodeCase{"UnknownCharsetGbkBytes", "<meta charset=x-none>" + kGbkChina,
                               "<meta charset=x-none>" + kChina},
                    DecodeCase{"UnknownCharsetUtf8Bytes", "<meta charset=x-none>" + kChina,
                               "<meta charset=x-none>" + kChina},
                    // Bytes no charset makes sense of (a compressed body) still give UTF-8.
                    DecodeCase{"UndeclaredGarbage", "\x1F\x8B\x08\xFF\x80x",
                               "\x1F" + kReplacement + "\x08" + kReplacement + kReplacement + "x"},
                    DecodeCase{"StopsAtNul", std::string("<meta charset=gbk>a\0b", 21),
                               "<meta charset=gbk>a"},
                    DecodeCase{"Empty", "", ""}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace corvanta
