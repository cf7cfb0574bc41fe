#include "web/ResponseDecoding.h"

#include <gtest/gtest.h>

namespace corvanta {
namespace {

const std::string kChina = "\xE4\xB8\xAD\xE5\x9B\xBD";
const std::string kGbkChina = "\xD6\xD0\xB9\xFA";

struct DecodeCase {
    const char* name;
    std::string body;
    std::string expected;
};

class DecodeResponse : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeResponse, DecodesByTheDeclaredOrApparentCharset) {
    const std::string& body = GetParam().body;
    EXPECT_EQ(decodeResponseText(body.substr(0, body.find('\0')), body), GetParam().expected);
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
                    DecodeCase{"DeclaredUtf8ButGbkBytes", "<meta charset=utf-8>" + kGbkChina,
                               "<meta charset=utf-8>" + kChina},
                    DecodeCase{"StopsAtNul", std::string("<meta charset=gbk>a\0b", 21),
                               "<meta charset=gbk>a"},
                    DecodeCase{"Empty", "", ""}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace corvanta
