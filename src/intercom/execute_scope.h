// Holds a connection's execute lock for one scope: `BeginExecute` on entry, `EndExecute` on
// leaving it, also by an exception. A `BeginExecute` that fails leaves nothing to end.
#pragma once

#include "intercom/ic_connection.h"

namespace zor {

class TExecuteScope {
 public:
  explicit TExecuteScope(TIcConnection& connection) : Connection(connection) {
    Connection.BeginExecute();
  }
  ~TExecuteScope() { Connection.EndExecute(); }
  TExecuteScope(const TExecuteScope&) = delete;
  TExecuteScope& operator=(const TExecuteScope&) = delete;

 private:
  TIcConnection& Connection;
};

}  // namespace zor
