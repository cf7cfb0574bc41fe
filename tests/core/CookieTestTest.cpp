#include "core/CookieTest.h"

#include "FakeIndexService.h"

#include <gtest/gtest.h>

namespace corvanta {
namespace {

using fake::FakeIndexService;
using Messages = std::vector<std::string>;

std::string answer(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(CookieTest, TheServiceDecidesBetweenAcceptedAndRefused) {
    FakeIndexService service;
    ASSERT_TRUE(service.start());
    EXPECT_EQ(cookieTestMessages(testCookie(service.baseUrl(), "BDUSS=corvanta-demo")),
              Messages{"验证成功，可以使用该cookie进行查询"});
    EXPECT_EQ(cookieTestMessages(testCookie(service.baseUrl(), "")),
              Messages{"当前cookie无效，请更换！"});
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].requestLine,
              "POST /api/SearchApi/index?word=%E4%B8%AD%E5%9B%BD&area=0&days=7 HTTP/1.1");
}

TEST(CookieTest, MarkersAreFoundAnywhereAndBothShowInOrder) {
    FakeIndexService service;
    ASSERT_TRUE(service.start());
    struct Case {
        std::string body;
        Messages messages;
    };
    for (const Case& c :
         {Case{"{\"status\":0,", {"验证成功，可以使用该cookie进行查询"}},
          Case{"{\"status\":10000,", {"当前cookie无效，请更换！"}},
          Case{"x{\"status\":10000}{\"status\":0}",
               {"当前cookie无效，请更换！", "验证成功，可以使用该cookie进行查询"}}}) {
        service.queueRawAnswer(answer(c.body));
        EXPECT_EQ(cookieTestMessages(testCookie(service.baseUrl(), "c")), c.messages) << c.body;
    }
}

// When the answer tells nothing about the cookie, the user learns that and why.
TEST(CookieTest, AnAnswerWithoutAVerdictSaysWhyTheCookieWasNotChecked) {
    FakeIndexService service;
    ASSERT_TRUE(service.start());
    service.setFault(fake::Fault::RateLimited);
    Messages messages = cookieTestMessages(testCookie(service.baseUrl(), "BDUSS=corvanta-demo"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].starts_with("无法验证cookie：")) << messages[0];
    EXPECT_NE(messages[0].find("10001"), std::string::npos) << messages[0];

    service.setFault(fake::Fault::ServerError);
    messages = cookieTestMessages(testCookie(service.baseUrl(), "BDUSS=corvanta-demo"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("HTTP 500"), std::string::npos) << messages[0];

    const std::string gone = service.baseUrl();
    service.stop();
    messages = cookieTestMessages(testCookie(gone, "BDUSS=corvanta-demo"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("711"), std::string::npos) << messages[0];
}

} // namespace
} // namespace corvanta
