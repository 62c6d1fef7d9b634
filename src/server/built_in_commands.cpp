#include "server/built_in_commands.h"

#include "base/format.h"
#include "intercom/wire_format.h"
#include "server/server_texts.h"
#include "server/zor_server.h"
#include "transport/ic_errors.h"

namespace zor {

void ExecuteBuiltIn(TServerCall& call) {
  switch (call.Command) {
    case cmdUserLogon:
      // [user name, three strings]: this server keeps no user list, so it records the name.
      call.Session.UserName = call.StringArg(0);
      call.ReplyEmpty();
      return;
    case cmdClientIdentity:
      // [wide string, wide string, optional value, wide string]: recorded in the log only.
      call.Server.Log().Debug("Session", Format("Session %x identifies as %s / %s",
                                                {call.Session.Id, call.OptionalStringArg(0),
                                                 call.OptionalStringArg(1)}));
      call.ReplyEmpty();
      return;
    case cmdQueryProxy:
      // Not 0 when this server is not a master; it always is one.
      call.Reply({TVariant(call.Server.IsProxy() ? 1 : 0)});
      return;
    case cmdSecurityToken:
    case cmdSecurityDecline:
      call.ReplyError(kCodeExecuteError, kTextNoSecurityPackage);
      return;
    default:
      throw EExecuteError(Format(kTextInvalidCommand, {call.Command}), kErrUnknownCommand);
  }
}

}  // namespace zor
