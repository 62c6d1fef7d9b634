// The base of objects that work through a connection (the download client is one): they
// send their commands with the connection's execute family. The connection is not owned.
#pragma once

#include "intercom/ic_connection.h"

namespace zor {

class TIcConnectionContext {
 public:
  explicit TIcConnectionContext(TIcConnection* connection) : Connection(connection) {}
  virtual ~TIcConnectionContext() = default;
  TIcConnectionContext(const TIcConnectionContext&) = delete;
  TIcConnectionContext& operator=(const TIcConnectionContext&) = delete;

  // Called right after construction and right before destruction (see `MakeContext`).
  virtual void Initialize() {}
  virtual void Finalize() {}

  TIcConnection* GetConnection() const { return Connection; }
  void SetConnection(TIcConnection* connection) { Connection = connection; }

 protected:
  uint32_t Reserved = 0;
  TIcConnection* Connection = nullptr;
};

// Frees a context after its `Finalize`.
struct TContextDeleter {
  void operator()(TIcConnectionContext* context) const {
    if (!context) return;
    context->Finalize();
    delete context;
  }
};
template <class T>
using TContextPtr = std::unique_ptr<T, TContextDeleter>;

// Creates a context and runs its `Initialize`.
template <class T, class... Args>
TContextPtr<T> MakeContext(Args&&... args) {
  TContextPtr<T> context(new T(std::forward<Args>(args)...));
  context->Initialize();
  return context;
}

}  // namespace zor
