#include "client_request.h"

#include "quelvan/function_catalogue.h"
#include "usage_error.h"

namespace quelvan::cli {

bool Finish(TModbusClient& Client, TTransactionReport& Report, const TTransactionInfo& Info) {
    if (Report.Done || Info.ID != Report.Info.ID) return false;
    Report.Info = Info;
    Report.Done = true;
    if (Info.Reply == rkExceptionReply) Report.ExceptionText = Client.GetExceptionCodeText(Info.RawExceptionCode);
    return true;
}

void ValidateCounted(uint8_t Command, uint32_t Start, uint32_t Count, const std::string& StartName,
                     const std::string& CountName) {
    const TRangeCheck check = CheckRange(*FindCountLimit(Command), Start, Count);
    CheckArgument(check == TRangeCheck::BadCount ? CountName : StartName,
                  [&] { ValidateRange(Command, Start, Count); });
}

}  // namespace quelvan::cli
