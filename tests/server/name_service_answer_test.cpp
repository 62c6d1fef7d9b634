#include "server/name_service_answer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/code_page.h"

namespace zor {
namespace {

std::vector<uint8_t> Request(const std::string& name, uint32_t lcid = 2052, uint32_t command = 1) {
  std::vector<uint8_t> request(256, 0xAB);
  auto put = [&](size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) request[offset + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, 0x12345678);
  put(4, 0x7E200707);
  put(8, lcid);
  put(12, command);
  std::memset(request.data() + 16, 0, 32);
  std::memcpy(request.data() + 16, name.data(), std::min<size_t>(name.size(), 32));
  return request;
}

uint32_t Le32(const TNameReply& reply, size_t offset) {
  return static_cast<uint32_t>(reply[offset]) | static_cast<uint32_t>(reply[offset + 1]) << 8 |
         static_cast<uint32_t>(reply[offset + 2]) << 16 |
         static_cast<uint32_t>(reply[offset + 3]) << 24;
}

std::string Text(const TNameReply& reply) {
  return reinterpret_cast<const char*>(reply.data() + 12);
}

TEST(NameServiceAnswer, KnownNamesGetTheirAddressInNetworkOrder) {
  const TNameTable names = TNameTable::Parse("Shop = 10.1.2.3\n");
  const auto reply = AnswerNameRequest(Request("SHOP"), names);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(Le32(*reply, 0), 0x12345678u);  // the request's random value, echoed
  EXPECT_EQ(Le32(*reply, 4), 0x7E200707u);
  EXPECT_EQ(Le32(*reply, 8), 0u);
  EXPECT_EQ((std::vector<uint8_t>(reply->begin() + 12, reply->begin() + 16)),
            (std::vector<uint8_t>{10, 1, 2, 3}));
}

TEST(NameServiceAnswer, UnknownNamesGetAFailureTextInTheClientsCodePage) {
  const TNameTable names = TNameTable::Parse("Shop = 10.1.2.3\n");
  struct Case {
    uint32_t Lcid;
    const char* Utf8;
    uint32_t CodePage;
  } const kCases[] = {
      {2052, "域名 nowhere 并没有登记！", 936},
      {1028, "網域名稱 nowhere 並沒有登記！", 950},
      {1033, "The name nowhere is not registered.", 1252},
  };
  for (const Case& c : kCases) {
    const auto reply = AnswerNameRequest(Request("nowhere", c.Lcid), names);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(Le32(*reply, 0), 0x12345678u);
    EXPECT_EQ(Le32(*reply, 8), 1u);
    EXPECT_EQ(Text(*reply), Utf8ToAnsi(c.Utf8, c.CodePage));
  }
  // A name field without its terminating zero, and an unknown command, are failures too.
  const auto unterminated = AnswerNameRequest(Request(std::string(32, 'x'), 1033), names);
  ASSERT_TRUE(unterminated.has_value());
  EXPECT_EQ(Text(*unterminated), "The name " + std::string(31, 'x') + "... is not registered.");
  const auto command = AnswerNameRequest(Request("Shop", 1033, 2), names);
  ASSERT_TRUE(command.has_value());
  EXPECT_EQ(Text(*command), "Unknown request 2.");
}

TEST(NameServiceAnswer, DatagramsThatAreNoRequestsGetNoAnswer) {
  const TNameTable names;
  std::vector<uint8_t> request = Request("a");
  EXPECT_FALSE(AnswerNameRequest(std::span(request).first(255), names).has_value());
  request.push_back(0);
  EXPECT_FALSE(AnswerNameRequest(request, names).has_value());
  request = Request("a");
  request[4] ^= 1;
  EXPECT_FALSE(AnswerNameRequest(request, names).has_value());
}

}  // namespace
}  // namespace zor
