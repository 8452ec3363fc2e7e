// The texts of the exchange errors and of the file faults.
#include "gateway/faults.h"

#include "device/serial_port.h"

namespace tv {

namespace {
struct ErrorText {
  int code;
  const char* message;
  int column;
};
constexpr ErrorText kErrors[] = {
    {xerr::NoAnswer, "Нет ответа от внешнего устройства."_cp, 23},
    {xerr::NoSync, "Не установлена синхронизация."_cp, 25},
    {xerr::BadAck, "Неверное подтверждение."_cp, 28},
    {xerr::BadChecksum, "Не совпала контрольная сумма."_cp, 26},
    {xerr::NoPort, "Не выбран порт обмена"_cp, 30},
    {xerr::PortBusy, "COM-порта нет или он занят другим приложением"_cp, 18},
    {xerr::SystemError, "Ошибка системы"_cp, 34},
    {xerr::BadReply, "Неверный ответ устройства"_cp, 30},
    {xerr::Aborted, "Прерывание цикла обмена"_cp, 29},
};

constexpr const char* kNoSuchFile = "Нет такого файла"_cp;
constexpr const char* kNoPermission = "Нет прав доступа к файлу или каталогу"_cp;
constexpr const char* kDiskFull = "Диск переполнен"_cp;
constexpr const char* kNotOrdinaryFile = "Это не обычный файл"_cp;
}  // namespace

const char* ExchangeErrorMessage(int code, int* column) {
  for (const ErrorText& e : kErrors)
    if (e.code == code) {
      if (column) *column = e.column;
      return e.message;
    }
  return nullptr;
}

const char* FileFaultText(FileFault fault) {
  switch (fault) {
    case FileFault::NoSuchFile: return kNoSuchFile;
    case FileFault::NoPermission: return kNoPermission;
    case FileFault::DiskFull: return kDiskFull;
    case FileFault::NotOrdinaryFile: return kNotOrdinaryFile;
    case FileFault::None:
    case FileFault::Other: break;
  }
  return nullptr;
}

}  // namespace tv
