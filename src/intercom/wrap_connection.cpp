#include "intercom/wrap_connection.h"

#include <utility>

#include "transport/ic_errors.h"

namespace zor {

TWrapConnection::~TWrapConnection() {
  GiveBack();
}

bool TWrapConnection::Connected() {
  return ProcessConnectionPool() != nullptr;
}

void TWrapConnection::BeginExecute() {
  TIcConnection::BeginExecute();
  try {
    if (BorrowedConnection) throw EExecConflictError(std::string(kExecutingText));
    Pool = ProcessConnectionPool();
    if (!Pool) throw EIcError(std::string(kNoHostedServerText));
    TIcConnection& borrowed = Pool->Borrow();
    BorrowedConnection = &borrowed;
    borrowed.BeginExecute();
  } catch (...) {
    GiveBack();
    TIcConnection::EndExecute();
    throw;
  }
}

void TWrapConnection::EndExecute() {
  TIcConnection& borrowed = CheckBorrowed();
  TIcConnection::EndExecute();
  borrowed.EndExecute();
  GiveBack();
}

void TWrapConnection::SendCommand(uint32_t command, uint32_t contextId) {
  CheckBorrowed().SendCommand(command, contextId);
}

void TWrapConnection::SendCommandData(uint32_t command, const TVariantArray& data,
                                      uint32_t contextId) {
  CheckBorrowed().SendCommandData(command, data, contextId);
}

TVariantArray TWrapConnection::WaitResult(bool useTimeout) {
  return CheckBorrowed().WaitResult(useTimeout);
}

TIcConnection& TWrapConnection::CheckBorrowed() const {
  if (!BorrowedConnection) throw Exception(std::string(kWrapOutsideExecuteText));
  return *BorrowedConnection;
}

void TWrapConnection::GiveBack() noexcept {
  TIcConnection* borrowed = std::exchange(BorrowedConnection, nullptr);
  std::shared_ptr<TConnectionPool> pool = std::move(Pool);
  Pool.reset();
  if (borrowed && pool) {
    try {
      pool->Return(*borrowed);
    } catch (...) {
      // A pool that cannot take the connection back drops it; the execute has ended anyway.
    }
  }
}

}  // namespace zor
