// A listener of the server: something that accepts client transports (the TCP listener is
// one) and hands each to the server. Two listeners of one class and one connect string
// cannot be on a server together.
#pragma once

#include <string>

namespace zor {

class TZORServer;

class TServerListener {
 public:
  virtual ~TServerListener() = default;
  virtual const char* ClassName() const = 0;
  virtual std::string ConnectString() const = 0;
  // Begins accepting for `server`; raises when the channel cannot be opened.
  virtual void Start(TZORServer& server) = 0;
  // Stops accepting; connections already handed over stay.
  virtual void Stop() = 0;
  virtual bool Running() const = 0;
};

}  // namespace zor
