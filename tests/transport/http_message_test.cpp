// HTTP message reading and writing: every case is read once from the whole buffer and once
// fed one byte at a time, and both must agree.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/expect_error.h"
#include "transport/http_client.h"
#include "transport/http_message.h"

namespace zor {
namespace {

// Reads a response; nothing when it is not complete yet (and `closed` is false).
std::optional<HttpResponse> ReadResponse(const std::string& bytes, bool closed, bool byteByByte) {
  HttpMessageReader reader(HttpMessageReader::Kind::Response);
  bool done = false;
  if (byteByByte) {
    for (char c : bytes) {
      if ((done = reader.Feed(std::string_view(&c, 1)))) break;
    }
  } else {
    done = reader.Feed(bytes);
  }
  if (!done && closed) done = reader.FeedEnd();
  if (!done) return std::nullopt;
  return reader.Response();
}

TEST(HttpMessage, ResponsesWholeAndByteByByte) {
  struct Case {
    const char* name;
    std::string bytes;
    bool closed;
    bool complete;
    int status;
    std::string reason;
    std::string body;
  } const kCases[] = {
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", false, true, 200, "OK",
       "hello"},
      {"bare LF", "HTTP/1.0 404 Not Found\nContent-Length: 2\n\nno", false, true, 404, "Not Found",
       "no"},
      {"body to the end", "HTTP/1.1 200 OK\r\n\r\nall of it", true, true, 200, "OK", "all of it"},
      {"body to the end, open", "HTTP/1.1 200 OK\r\n\r\nall of it", false, false, 0, "", ""},
      {"no content", "HTTP/1.1 204 No Content\r\n\r\n", false, true, 204, "No Content", ""},
      {"empty reason", "HTTP/1.1 500\r\nContent-Length: 0\r\n\r\n", false, true, 500, "", ""},
      {"waiting for body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", false, false, 0, "",
       ""},
      {"waiting for head", "HTTP/1.1 200 OK\r\nContent-Le", false, false, 0, "", ""},
      {"same length twice", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\ncontent-length: 1\r\n\r\nx",
       false, true, 200, "OK", "x"},
  };
  for (const Case& c : kCases) {
    for (bool byteByByte : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (byteByByte ? " (byte by byte)" : " (whole)"));
      const std::optional<HttpResponse> response = ReadResponse(c.bytes, c.closed, byteByByte);
      ASSERT_EQ(response.has_value(), c.complete);
      if (!response) continue;
      EXPECT_EQ(response->Status, c.status);
      EXPECT_EQ(response->Reason, c.reason);
      EXPECT_EQ(response->Body, c.body);
    }
  }
}

TEST(HttpMessage, MalformedResponsesRaiseSayingWhy) {
  struct Case {
    std::string bytes;
    bool closed;
    std::string message;
  } const kCases[] = {
      {"HTTP/2 200 OK\r\n\r\n", false, "malformed HTTP message: status line"},
      {"HTTP/1.1 2000 OK\r\n\r\n", false, "malformed HTTP message: status line"},
      {"HTTP/1.1 20x OK\r\n\r\n", false, "malformed HTTP message: status code"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", false,
       "malformed HTTP message: conflicting Content-Length fields"},
      {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false,
       "malformed HTTP message: Content-Length"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n", false,
       "malformed HTTP message: Content-Length"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n", false,
       "HTTP message body is larger than 1048576 bytes"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1048577\r\n\r\n", false,
       "HTTP message body is larger than 1048576 bytes"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", false,
       "HTTP transfer codings are not supported"},
      {"HTTP/1.1 200 OK\r\nX: a\r\n b\r\n\r\n", false,
       "malformed HTTP message: folded header field"},
      {"HTTP/1.1 200 OK\r\nBad Name: a\r\n\r\n", false,
       "malformed HTTP message: header field name"},
      {"HTTP/1.1 200 OK\r\nNoColon\r\n\r\n", false,
       "malformed HTTP message: header field without a colon"},
      {"HTTP/1.1 200 OK\r\nX: a\x01\r\n\r\n", false, "malformed HTTP message: header field value"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nab", true,
       "HTTP message body cut short: 2 of 4 bytes"},
      {"HTTP/1.1 200 OK\r\n", true, "HTTP message cut short in its head"},
      {"", true, "the server closed the connection without an answer"},
      {"HTTP/1.1 200 OK\r\nX: " + std::string(kMaxHttpHeadBytes, 'a') + "\r\n\r\n", false,
       "HTTP message head is longer than 16384 bytes"},
  };
  for (const Case& c : kCases) {
    for (bool byteByByte : {false, true}) {
      SCOPED_TRACE(c.bytes.substr(0, 60) + (byteByByte ? " (byte by byte)" : " (whole)"));
      testing::ExpectError<EHttpError>([&] { ReadResponse(c.bytes, c.closed, byteByByte); },
                                       "EHttpError", c.message);
    }
  }
}

TEST(HttpMessage, UnboundedBodyStopsAtTheLimit) {
  HttpMessageReader reader(HttpMessageReader::Kind::Response);
  EXPECT_FALSE(reader.Feed("HTTP/1.1 200 OK\r\n\r\n"));
  const std::string chunk(64 * 1024, 'x');
  size_t fed = 0;
  testing::ExpectError<EHttpError>(
      [&] {
        while (fed <= kMaxHttpBodyBytes) {
          reader.Feed(chunk);
          fed += chunk.size();
        }
      },
      "EHttpError", "HTTP message body is larger than 1048576 bytes");
  EXPECT_EQ(fed, kMaxHttpBodyBytes);  // the chunk that would pass the limit is refused
}

TEST(HttpMessage, RequestsAndTheirFaults) {
  struct Case {
    std::string bytes;
    std::string method;
    std::string target;
    std::string body;
    std::string error;  // empty: read without error
  } const kCases[] = {
      {"GET /M880Cloud/Call?Code=1 HTTP/1.1\r\nHost: x\r\n\r\n", "GET", "/M880Cloud/Call?Code=1",
       "", ""},
      {"POST /a HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", "POST", "/a", "abc", ""},
      {"G(T /a HTTP/1.1\r\n\r\n", "", "", "", "malformed HTTP message: request method"},
      {"GET a HTTP/1.1\r\n\r\n", "", "", "", "malformed HTTP message: request target"},
      {"GET /a\x7f HTTP/1.1\r\n\r\n", "", "", "", "malformed HTTP message: request target"},
      {"GET /a HTTP/1.2\r\n\r\n", "", "", "", "malformed HTTP message: HTTP version"},
      {"GET /a  HTTP/1.1\r\n\r\n", "", "", "", "malformed HTTP message: HTTP version"},
      {"GET\r\n\r\n", "", "", "", "malformed HTTP message: request line"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.bytes);
    HttpMessageReader reader(HttpMessageReader::Kind::Request);
    if (!c.error.empty()) {
      testing::ExpectError<EHttpError>([&] { reader.Feed(c.bytes); }, "EHttpError", c.error);
      continue;
    }
    ASSERT_TRUE(reader.Feed(c.bytes));
    EXPECT_EQ(reader.Request().Method, c.method);
    EXPECT_EQ(reader.Request().Target, c.target);
    EXPECT_EQ(reader.Request().Body, c.body);
  }
}

TEST(HttpMessage, FormattedMessagesReadBack) {
  HttpRequest request{"GET", "/x?a=1", {{"Host", "h"}}, ""};
  EXPECT_EQ(FormatHttpRequest(request), "GET /x?a=1 HTTP/1.1\r\nHost: h\r\n\r\n");
  HttpResponse response{404, "", {{"Content-Type", "text/plain"}}, "no such id"};
  const std::string text = FormatHttpResponse(response);
  EXPECT_EQ(text,
            "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: "
            "10\r\nConnection: close\r\n\r\n"
            "no such id");
  const std::optional<HttpResponse> back = ReadResponse(text, false, false);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Status, 404);
  EXPECT_EQ(back->Body, "no such id");
  ASSERT_NE(FindHttpHeader(back->Headers, "content-type"), nullptr);
  EXPECT_EQ(*FindHttpHeader(back->Headers, "content-type"), "text/plain");
}

TEST(HttpMessage, PercentEncodingAndTargets) {
  const std::string id = "统编 8/0&1=2+%";
  EXPECT_EQ(PercentEncode("a-b_c.d~e f"), "a-b_c.d~e%20f");
  EXPECT_EQ(PercentDecode(PercentEncode(id)), id);
  EXPECT_EQ(PercentDecode("a+b%2B"), "a b+");
  for (const char* bad : {"%", "%4", "%G0", "a%zz"}) {
    SCOPED_TRACE(bad);
    testing::ExpectError<EHttpError>([&] { PercentDecode(bad); }, "EHttpError",
                                     "malformed percent-encoding in \"" + std::string(bad) + "\"");
  }
  const HttpTarget target =
      ParseHttpTarget("/M880Cloud/Call?Code=1&&P0=0&P1=" + PercentEncode(id) + "&flag#frag");
  EXPECT_EQ(target.Path, "/M880Cloud/Call");
  ASSERT_EQ(target.Query.size(), 4u);
  ASSERT_NE(target.Parameter("P1"), nullptr);
  EXPECT_EQ(*target.Parameter("P1"), id);
  EXPECT_EQ(*target.Parameter("flag"), "");
  EXPECT_EQ(target.Parameter("p1"), nullptr);
}

TEST(HttpAddress, ParsesHostPortAndBase) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    uint16_t port;
    bool explicitPort;
    const char* base;
  } const kCases[] = {
      {"lookup.example.com", true, "lookup.example.com", 80, false, ""},
      {"http://127.0.0.1:8080", true, "127.0.0.1", 8080, true, ""},
      {"HTTP://host:81/cloud/", true, "host", 81, true, "/cloud"},
      {"host/", true, "host", 80, false, ""},
      {"http:// host", false, "", 0, false, ""},
      {"http://", false, "", 0, false, ""},
      {"host:0", false, "", 0, false, ""},
      {"host:65536", false, "", 0, false, ""},
      {"host:", false, "", 0, false, ""},
      {"https://host", false, "", 0, false, ""},
      {"user@host", false, "", 0, false, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    HttpAddress address;
    ASSERT_EQ(ParseHttpAddress(c.text, address), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(address.Host, c.host);
    EXPECT_EQ(address.Port, c.port);
    EXPECT_EQ(address.ExplicitPort, c.explicitPort);
    EXPECT_EQ(address.BasePath, c.base);
  }
}

}  // namespace
}  // namespace zor
