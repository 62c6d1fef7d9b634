#include "transport/http_message.h"

#include <charconv>

#include "base/ascii_case.h"

namespace zor {
namespace {

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsTokenChar(c)) return false;
  }
  return true;
}

// Visible characters, blanks and tabs, and bytes of UTF-8 text; no other control bytes.
bool IsFieldText(std::string_view text) {
  for (unsigned char c : text) {
    if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

[[noreturn]] void Malformed(std::string_view what) {
  throw EHttpError("malformed HTTP message: " + std::string(what));
}

bool ParseVersion(std::string_view text) {
  return text == "HTTP/1.1" || text == "HTTP/1.0";
}

// The next line of the head (without its CR LF or LF); `head` moves past it.
std::string_view NextLine(std::string_view& head) {
  const size_t end = head.find('\n');
  std::string_view line = head.substr(0, end);
  head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

void AppendHead(std::string& out, std::string_view startLine, const HttpHeaders& headers) {
  out.append(startLine).append("\r\n");
  for (const HttpHeader& header : headers)
    out.append(header.Name).append(": ").append(header.Value).append("\r\n");
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const std::string* FindHttpHeader(const HttpHeaders& headers, std::string_view name) {
  for (const HttpHeader& header : headers) {
    if (SameTextAscii(header.Name, name)) return &header.Value;
  }
  return nullptr;
}

std::string FormatHttpRequest(const HttpRequest& request) {
  std::string out;
  AppendHead(out, request.Method + " " + request.Target + " HTTP/1.1", request.Headers);
  if (!request.Body.empty() || request.Method == "POST" || request.Method == "PUT") {
    out.append("Content-Length: ").append(std::to_string(request.Body.size())).append("\r\n");
  }
  out.append("\r\n").append(request.Body);
  return out;
}

std::string FormatHttpResponse(const HttpResponse& response) {
  std::string out;
  const std::string reason =
      response.Reason.empty() ? std::string(HttpReasonPhrase(response.Status)) : response.Reason;
  AppendHead(out, "HTTP/1.1 " + std::to_string(response.Status) + " " + reason, response.Headers);
  out.append("Content-Length: ").append(std::to_string(response.Body.size())).append("\r\n");
  out.append("Connection: close\r\n\r\n").append(response.Body);
  return out;
}

std::string_view HttpReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Content Too Large";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Unknown";
  }
}

bool HttpMessageReader::Feed(std::string_view bytes) {
  if (Done) return true;
  if (HeadDone) return FeedBody(bytes);
  // Before the head is complete only as much is kept as a head may be long (plus its end).
  const size_t room = kMaxHttpHeadBytes + 4 - Buffer.size();
  const size_t take = std::min(room, bytes.size());
  Buffer.append(bytes.substr(0, take));
  const std::string_view overflow = bytes.substr(take);
  // The head ends at the first empty line (CR LF CR LF, or bare LF LF).
  size_t end = std::string::npos;
  size_t bodyStart = 0;
  for (size_t i = ScanFrom; i < Buffer.size(); ++i) {
    if (Buffer[i] != '\n') continue;
    if (i + 1 < Buffer.size() && Buffer[i + 1] == '\n') {
      end = i + 1;
      bodyStart = i + 2;
      break;
    }
    if (i + 2 < Buffer.size() && Buffer[i + 1] == '\r' && Buffer[i + 2] == '\n') {
      end = i + 1;
      bodyStart = i + 3;
      break;
    }
  }
  if (end == std::string::npos || end > kMaxHttpHeadBytes) {
    if (Buffer.size() >= kMaxHttpHeadBytes + 4 || end != std::string::npos) {
      throw EHttpError("HTTP message head is longer than " + std::to_string(kMaxHttpHeadBytes) +
                       " bytes");
    }
    ScanFrom = Buffer.size() >= 2 ? Buffer.size() - 2 : 0;
    return false;
  }
  ParseHead(std::string_view(Buffer).substr(0, end));
  HeadDone = true;
  std::string body = Buffer.substr(bodyStart);
  Buffer.clear();
  if (!FeedBody(body)) return FeedBody(overflow);
  return true;
}

bool HttpMessageReader::FeedBody(std::string_view bytes) {
  if (Done) return true;
  if (UntilEnd) {
    if (bytes.size() > kMaxHttpBodyBytes - Buffer.size()) {
      throw EHttpError("HTTP message body is larger than " + std::to_string(kMaxHttpBodyBytes) +
                       " bytes");
    }
    Buffer.append(bytes);
    return false;
  }
  Buffer.append(bytes.substr(0, BodyLength - Buffer.size()));
  if (Buffer.size() < BodyLength) return false;
  if (MessageKind == Kind::Request) {
    RequestMessage.Body = std::move(Buffer);
  } else {
    ResponseMessage.Body = std::move(Buffer);
  }
  Buffer.clear();
  Done = true;
  return true;
}

bool HttpMessageReader::FeedEnd() {
  if (Done) return true;
  if (!HeadDone) {
    if (Buffer.empty() && MessageKind == Kind::Response) {
      throw EHttpError("the server closed the connection without an answer");
    }
    throw EHttpError("HTTP message cut short in its head");
  }
  if (UntilEnd) {
    ResponseMessage.Body = std::move(Buffer);
    Buffer.clear();
    Done = true;
    return true;
  }
  throw EHttpError("HTTP message body cut short: " + std::to_string(Buffer.size()) + " of " +
                   std::to_string(BodyLength) + " bytes");
}

void HttpMessageReader::ParseHead(std::string_view head) {
  const std::string_view startLine = NextLine(head);
  HttpHeaders* headers = nullptr;
  if (MessageKind == Kind::Request) {
    const size_t first = startLine.find(' ');
    const size_t second = first == std::string_view::npos ? first : startLine.find(' ', first + 1);
    if (second == std::string_view::npos) Malformed("request line");
    const std::string_view method = startLine.substr(0, first);
    const std::string_view target = startLine.substr(first + 1, second - first - 1);
    const std::string_view version = startLine.substr(second + 1);
    if (!IsToken(method)) Malformed("request method");
    if (target.empty() || target.front() != '/') Malformed("request target");
    for (unsigned char c : target) {
      if (c <= 0x20 || c == 0x7F) Malformed("request target");
    }
    if (!ParseVersion(version)) Malformed("HTTP version");
    RequestMessage.Method = std::string(method);
    RequestMessage.Target = std::string(target);
    headers = &RequestMessage.Headers;
  } else {
    const size_t first = startLine.find(' ');
    if (first == std::string_view::npos || !ParseVersion(startLine.substr(0, first)))
      Malformed("status line");
    const std::string_view rest = startLine.substr(first + 1);
    const std::string_view code = rest.substr(0, 3);
    if (code.size() != 3 || code[0] < '1' || code[0] > '5' || code[1] < '0' || code[1] > '9' ||
        code[2] < '0' || code[2] > '9') {
      Malformed("status code");
    }
    if (rest.size() > 3 && rest[3] != ' ') Malformed("status line");
    const std::string_view reason = rest.size() > 4 ? rest.substr(4) : std::string_view();
    if (!IsFieldText(reason)) Malformed("reason phrase");
    ResponseMessage.Status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
    ResponseMessage.Reason = std::string(reason);
    headers = &ResponseMessage.Headers;
  }

  while (!head.empty()) {
    const std::string_view line = NextLine(head);
    if (line.empty()) break;
    if (line.front() == ' ' || line.front() == '\t') Malformed("folded header field");
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) Malformed("header field without a colon");
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (!IsToken(name)) Malformed("header field name");
    if (!IsFieldText(value)) Malformed("header field value");
    if (headers->size() >= kMaxHttpHeaderCount) {
      throw EHttpError("HTTP message has more than " + std::to_string(kMaxHttpHeaderCount) +
                       " header fields");
    }
    headers->push_back(HttpHeader{std::string(name), std::string(value)});
  }

  if (FindHttpHeader(*headers, "Transfer-Encoding"))
    throw EHttpError("HTTP transfer codings are not supported");
  bool haveLength = false;
  size_t length = 0;
  for (const HttpHeader& header : *headers) {
    if (!SameTextAscii(header.Name, "Content-Length")) continue;
    const std::string& text = header.Value;
    size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text.front() == '+' || error != std::errc() ||
        end != text.data() + text.size()) {
      if (error == std::errc::result_out_of_range)
        value = kMaxHttpBodyBytes + 1;
      else
        Malformed("Content-Length");
    }
    if (haveLength && value != length) Malformed("conflicting Content-Length fields");
    haveLength = true;
    length = value;
  }
  if (haveLength && length > kMaxHttpBodyBytes) {
    throw EHttpError("HTTP message body is larger than " + std::to_string(kMaxHttpBodyBytes) +
                     " bytes");
  }
  if (MessageKind == Kind::Response) {
    const int status = ResponseMessage.Status;
    if (status < 200 || status == 204 || status == 304) {
      haveLength = true;
      length = 0;
    }
  }
  if (haveLength) {
    BodyLength = length;
  } else if (MessageKind == Kind::Response) {
    UntilEnd = true;
  } else {
    BodyLength = 0;
  }
}

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
      if (high < 0 || low < 0)
        throw EHttpError("malformed percent-encoding in \"" + std::string(text) + "\"");
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

const std::string* HttpTarget::Parameter(std::string_view name) const {
  for (const auto& [key, value] : Query) {
    if (key == name) return &value;
  }
  return nullptr;
}

HttpTarget ParseHttpTarget(std::string_view target) {
  HttpTarget result;
  const size_t question = target.find('?');
  result.Path = std::string(target.substr(0, question));
  if (question == std::string_view::npos) return result;
  std::string_view query = target.substr(question + 1);
  const size_t hash = query.find('#');
  query = query.substr(0, hash);
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    const std::string_view key = pair.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    result.Query.emplace_back(PercentDecode(key), PercentDecode(value));
  }
  return result;
}

}  // namespace zor
