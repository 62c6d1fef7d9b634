#include "intercom/client_connection_ex.h"

#include <iostream>
#include <mutex>

namespace zor {
namespace {
std::mutex gHooksLock;
std::function<void(const std::string&)> gMessageSink;
std::function<void(TIcConnection&)> gClosedNotifier;
}  // namespace

void SetIntercomMessageSink(std::function<void(const std::string&)> sink) {
  std::lock_guard guard(gHooksLock);
  gMessageSink = std::move(sink);
}

void ShowIntercomMessage(const std::string& text) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard guard(gHooksLock);
    sink = gMessageSink;
  }
  if (sink)
    sink(text);
  else
    std::cerr << text << '\n';
}

void SetConnectionClosedNotifier(std::function<void(TIcConnection&)> notifier) {
  std::lock_guard guard(gHooksLock);
  gClosedNotifier = std::move(notifier);
}

TIcConnection*& ProcessConnection() {
  static TIcConnection* connection = nullptr;
  return connection;
}

TClientConnectionEx::~TClientConnectionEx() {
  try {
    if (Connected()) TClientConnectionEx::Disconnect();
  } catch (...) {
  }
  if (ProcessConnection() == this) ProcessConnection() = nullptr;
}

void TClientConnectionEx::Disconnect() {
  if (Handler()) {
    Subscribed = false;
    std::function<void(TIcConnection&)> notifier;
    {
      std::lock_guard guard(gHooksLock);
      notifier = gClosedNotifier;
    }
    if (notifier) notifier(*this);
  }
  TIcClientConnection::Disconnect();
}

void TClientConnectionEx::Connect(const THandlerClass& handlerClass,
                                  const std::string& connectString, int32_t p3, int32_t p4) {
  TIcClientConnection::Connect(handlerClass, connectString, p3, p4);
  MessageCentre = false;
}

void TClientConnectionEx::Logon(const std::string& userName, const std::string& s2,
                                const std::string& s3, const std::string& s4) {
  if (Connected() && Subscribed) {
    WithOptions(1, [&] { ExecuteCommandData(cmdMessageUnsubscribe, {TVariant(0)}); });
    Subscribed = false;
  }
  TIcClientConnection::Logon(userName, s2, s3, s4);
  if (Handler() && Handler()->SupportsMessageCentre() && MessageCentre && Connected() &&
      !Subscribed) {
    try {
      ExecuteCommand(cmdMessageSubscribe);
      Subscribed = true;
    } catch (const std::exception& e) {
      ShowIntercomMessage(std::string(kMessageCentreFailedText) + "\n" + e.what());
    }
  }
}

}  // namespace zor
