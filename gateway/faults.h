// The faults of an exchange with the gateway and of a settings file, and
// their texts (cp866): the screens' error boxes and the command line's
// messages say the same words, kept here once beside the fault they name.
#pragma once

#include <string>

#include "cp866/literal.h"
#include "platform/file_access.h"

namespace tv {

// A failed exchange: the ExchangeError code (device/serial_port.h, xerr) and
// the row under its message (the cell and the modem's answer, or how far a
// transfer came).
struct ExchangeFault {
  int code = 0;  // 0: none
  std::string detail;
  bool left = false;  // the operator left the wait: nothing to report
  bool Failed() const { return code != 0 || left; }
};

// Message of an ExchangeError code, and the column of the error box (12..68)
// it starts at; nullptr for a code that has none.
const char* ExchangeErrorMessage(int code, int* column = nullptr);

// A port whose DTR and RTS nobody confirmed: the warning with which gateway
// 1 goes on, and the reason the other gateways are refused.
inline constexpr const char* kLinesUnconfirmed = "линии DTR/RTS не подтверждены"_cp;
// The line dropped during an exchange.
inline constexpr const char* kLineLost = "линия связи потеряна"_cp;

// A settings file that could not be opened or created, is too big to be
// one, or could not be written; the screens show them in a bar (" text ").
inline constexpr const char* kFileOpenError = "Ошибка открытия файла!"_cp;
inline constexpr const char* kFileTooLarge = "Файл слишком велик!"_cp;
inline constexpr const char* kFileWriteError = "Ошибка записи файла!"_cp;
// Lines of a file the SIM did not take, their places listed after it.
inline constexpr const char* kRefusedLineList = "Не приняты строки:"_cp;

// Why a file could not be read or written, said under (or after) the file
// error; nullptr when there is nothing to add.
const char* FileFaultText(FileFault fault);

}  // namespace tv
