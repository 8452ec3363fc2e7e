// The four File menu transfers, each inside the panel at (18, 3), 59 x 20:
//   SIM to file       AT+CPBR=01..99, each "+CPBR:" reply line into the file
//   File to SIM       each file line as AT+CPBW=<line>, then 01..99 read back
//   Load for editing  the file into the image; edits stay offline
//   Save to file      the image as ` NN,"number",129,"name"` lines
// A file is written whole or not at all: the old file stays until the new
// one is complete on the disk.
#include "ui/settings_transfers.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/settings_file.h"
#include "device/at_engine.h"
#include "device/cell_transfer.h"
#include "gateway/faults.h"
#include "gateway/journal.h"
#include "gateway/transfers.h"
#include "platform/file_access.h"
#include "screen/progress.h"
#include "ui/exchange_error.h"
#include "ui/file_chooser.h"
#include "ui/file_to_sim_question.h"
#include "ui/tool.h"
#include "ui/transfer_panel.h"

namespace tv {

namespace {

using namespace transfer_panel;

// The panel's texts (ui/transfer_panel.h): prompts, labels and final
// messages in the normal attribute; file errors at (34, 4), why under them.
// Each replaces the whole row inside the panel.
constexpr int kErrorX = 34;
constexpr const char* kPattern = "*.set";

constexpr const char* kAskSimToFile = "Сохранить данные из SIM-Карты в файл? [Y/N]"_cp;
constexpr const char* kAskFileToSim = "Загрузить данные из файла в SIM-Карту? [Y/N]"_cp;
constexpr const char* kAskLoad = "Загрузить данные для редактирования? [Y/N]"_cp;
constexpr const char* kAskSave = "Сохранить данные в файле? [Y/N]"_cp;
// The same two over a file that is there: it is replaced.
constexpr const char* kAskReplaceFromSim = "Заменить файл данными из SIM-Карты? [Y/N]"_cp;
constexpr const char* kAskReplaceSave = "Заменить файл редактируемыми данными? [Y/N]"_cp;
// Under a question that writes: from what to what ("gw1.set -> COM1 ШЛЮЗ 2").
constexpr const char* kArrow = " -> ";
constexpr const char* kFileLabel = "Файл: "_cp;
// File to SIM of a file whose cell 98 lacks the gateway's signature: the
// connection would then find an uninitialised SIM.
constexpr const char* kAskUnsigned = "В файле нет настроек шлюза. Записать в SIM-Карту? [Y/N]"_cp;
// SIM to file from a SIM whose last write stopped part way (its journal
// there): it holds part of two files, and its copy would pass for a good one.
constexpr const char* kAskHalfWritten = "SIM-Карта записана не полностью. Сохранить? [Y/N]"_cp;
constexpr const char* kJournalLabel = "Журнал: "_cp;

constexpr const char* kLabelRead = "Выполнено:          "_cp;  // 20 wide
constexpr const char* kLabelWritten =
    "Записано:                                              "_cp;  // 55 wide
constexpr const char* kLabelReadBack =
    "Загружено:                                             "_cp;  // 55 wide

constexpr const char* kSaved = "Данные сохранены. Для продолжения нажмите любую клавишу"_cp;
constexpr const char* kSentAndRead = "Данные загружены.  Для продолжения нажмите любую клавишу"_cp;
// File to SIM when the SIM refused lines: how many of how many, then a key.
constexpr const char* kRefusedLines = "SIM-Карта не приняла строк: %d из %d. Нажмите клавишу"_cp;
// Under it: the first refused lines, by their place in the file (in a file
// the tool wrote, line N is cell N).
constexpr int kRefusedListed = 8;
// Esc during File to SIM: the line in flight is finished first.
constexpr const char* kAskStop = "Остановить запись после этой строки? [Y/N]"_cp;
constexpr const char* kStopWarning = "В SIM-Карте останется смесь файла и прежних данных"_cp;
constexpr const char* kStopped = "Запись остановлена: записано строк %d из %d"_cp;
constexpr const char* kStoppedMix = "В SIM-Карте смесь файла и прежних данных"_cp;
// Under the progress line while File to SIM writes.
constexpr const char* kEscStops = "ESC - остановить запись после строки"_cp;
constexpr const char* kConnectAnew = "Установите связь заново. Нажмите клавишу"_cp;
constexpr const char* kLoaded = "Данные загружены. Для продолжения нажмите любую клавишу"_cp;
// Before a loaded file's unsaved changes would be replaced.
constexpr const char* kUnsavedEdits = "Изменения в файле не сохранены"_cp;
constexpr const char* kDiscardQuestion = "Продолжить без сохранения? [Y/N]"_cp;

// Creating the file failed (panel attribute), reading it failed, it is too
// big for a settings file, writing it failed (alert attribute).
// The texts are gateway/faults.h's: creating a file failed is said as it
// stands; reading and writing failed in a bar (" text "). The reason
// (FileFaultText) stands under it in its attribute.
std::string InABar(const char* text) { return " " + std::string(text) + " "; }

// The status area at the right of row 1 (port, speed and gateway, or the
// loaded file) stays in view, so that a question is read with the gateway
// it acts on.
constexpr int kStatusX = 57;

void OpenPanel(Screen& s) {
  uint8_t status[(ScreenWidth - kStatusX + 1) * 2];
  s.SaveRect(kStatusX, 1, ScreenWidth, 1, status);
  s.ClearScreen();
  s.RestoreRect(kStatusX, 1, ScreenWidth, 1, status);
  s.DrawPanel(kPanelX, kPanelY, kPanelW, kPanelH);
}
void ClosePanel(Screen& s) { s.ErasePanel(kPanelX, kPanelY, kPanelW, kPanelH); }

void Say(Screen& s, const char* text) {
  BlankRow(s, kTextRow);
  s.SetCursor(kTextX, kTextRow);
  s.WriteString(text);
}

// A [Y/N] question: only a key pressed after it was shown answers it.
bool AskYes(Screen& s, const char* question) {
  Say(s, question);
  s.DiscardTypeahead();
  return s.ReadYes();
}

// A file message in its attribute with why under it, a key, and the panel
// closed. The message stays until a key, since the menu redraws the whole
// screen as soon as the operation returns.
void FileFailed(Screen& s, const std::string& text, uint8_t attr, FileFault fault = FileFault::None) {
  BlankRow(s, kTextRow);
  s.PutTextAttr(kErrorX, kTextRow, text.c_str(), attr);
  if (const char* why = FileFaultText(fault)) {
    // Aligned with the message's words: padded as the message is.
    const std::string pad = text[0] == ' ' ? " " : "";
    s.PutTextAttr(kErrorX, kDetailRow, (pad + why + pad).c_str(), attr);
  }
  s.ReadKeyCode();
  ClosePanel(s);
}

// The settings file named by currentFileName as it was read, and why not.
struct ChosenFile {
  FileReadResult read = FileReadResult::OpenFailed;
  FileFault fault = FileFault::None;
  std::string bytes;
};
ChosenFile ReadChosen(const Tool& tool) {
  ChosenFile file;
  file.read = ReadSettingsFile(tool.state.currentFileName, file.bytes, &file.fault);
  return file;
}

// True for a file that was read; else false after the message.
bool FileRead(Screen& s, const ChosenFile& file) {
  switch (file.read) {
    case FileReadResult::Ok: return true;
    case FileReadResult::TooLarge: FileFailed(s, InABar(kFileTooLarge), ColorAlert); return false;
    case FileReadResult::OpenFailed: break;
  }
  FileFailed(s, InABar(kFileOpenError), ColorAlert, file.fault);
  return false;
}

// The settings file named by currentFileName, or false after the message.
bool ReadChosenFile(Tool& tool, std::string& bytes) {
  ChosenFile file = ReadChosen(tool);
  if (!FileRead(tool.screen, file)) return false;
  bytes = std::move(file.bytes);
  return true;
}

// The file cannot be created.
void CreateFailed(Screen& s, FileFault fault) { FileFailed(s, kFileOpenError, ColorPanel, fault); }

// A failed exchange (the device is then taken as gone): the box says what,
// and the panel is closed.
void ExchangeFailed(Tool& tool, const ExchangeFault& fault) {
  ShowExchangeError(tool.screen, fault.code, fault.detail);
  ClosePanel(tool.screen);
}

void Finish(Screen& s, const char* text) {
  Say(s, text);
  s.DiscardTypeahead();  // keys typed during the transfer do not dismiss it unread
  s.ReadKeyCode();
  ClosePanel(s);
}

// "COM1 ШЛЮЗ 2": the gateway whose lines are driven.
std::string GatewayName(const Tool& tool) {
  return PortDeviceName(tool.state.portIndex) + " " + GatewayNames[tool.state.gatewayIndex];
}

// The chosen file's name as the panel can show it beside a gateway name.
std::string ShownFileName(const Tool& tool) { return DisplayFileName(tool.state.currentFileName, 36); }

bool FileExists(const std::string& path) {
  std::string bytes;
  FileFault fault = FileFault::None;
  return ReadSettingsFile(path, bytes, &fault) != FileReadResult::OpenFailed || fault != FileFault::NoSuchFile;
}

// What a question acts on, on the row under it.
void SayTarget(Screen& s, const std::string& target) {
  BlankRow(s, kDetailRow);
  s.PutTextAttr(kTextX, kDetailRow, target.c_str(), ColorPanel);
}

// Before a SIM whose journal tells of a write that stopped part way is
// saved: the question, the journal's name under it and where the write
// stopped; true when the operator answered Y (or there is no journal).
bool ConfirmHalfWrittenSource(Tool& tool) {
  TransferJournal journal;
  if (!ReadJournal(tool.state.portIndex, tool.state.gatewayIndex, journal)) return true;
  Screen& s = tool.screen;
  const std::vector<std::string> notice = InterruptionNotice(journal, 19);
  Say(s, kAskHalfWritten);
  SayTarget(s, kJournalLabel + DisplayFileName(journal.path, kPanelW - 11));
  BlankRow(s, kDetailRow + 1);
  s.PutTextAttr(kTextX, kDetailRow + 1, notice[1].c_str(), ColorPanel);
  s.DiscardTypeahead();
  const bool yes = s.ReadYes();
  BlankRow(s, kDetailRow);
  BlankRow(s, kDetailRow + 1);
  return yes;
}

// The panel, the chooser once, and the question with what it acts on under
// it: true when a name was accepted and the operator answered y or Y;
// otherwise the panel is closed.
bool ChooseAndConfirm(Tool& tool, const char* question, const char* replacing = nullptr) {
  Screen& s = tool.screen;
  OpenPanel(s);
  if (ChooseFile(tool.screen, tool.state.currentFileName, kPattern) == ChooseAccepted) {
    const bool replace = replacing && FileExists(tool.state.currentFileName);
    Say(s, replace ? replacing : question);
    SayTarget(s, kFileLabel + ShownFileName(tool));
    s.DiscardTypeahead();
    if (s.ReadYes()) {
      BlankRow(s, kDetailRow);
      return true;
    }
  }
  ClosePanel(s);
  return false;
}

}  // namespace

void SimToFile(Tool& tool) {
  Screen& s = tool.screen;
  if (!tool.state.deviceConnected) {
    ShowExchangeError(s, xerr::NoPort);
    return;
  }
  OpenPanel(s);
  for (;;) {
    const int chosen = ChooseFile(tool.screen, tool.state.currentFileName, kPattern);
    if (chosen == ChooseListEsc) {
      ClosePanel(s);
      return;
    }
    if (chosen == ChooseAccepted) {
      Say(s, FileExists(tool.state.currentFileName) ? kAskReplaceFromSim : kAskSimToFile);
      SayTarget(s, GatewayName(tool) + kArrow + ShownFileName(tool));
      s.DiscardTypeahead();
      const int k = s.ReadCharacterKey();
      if (k == 'y' || k == 'Y') {
        BlankRow(s, kDetailRow);
        break;
      }
      if (k == key::Esc) {
        ClosePanel(s);
        return;
      }
    }
    // Back to the list: a fresh panel, so no remains of the prompt show.
    s.DrawPanel(kPanelX, kPanelY, kPanelW, kPanelH);
  }
  if (!ConfirmHalfWrittenSource(tool)) {
    ClosePanel(s);
    return;
  }

  // The cells of a range reply come in one long wait: each is shown at once.
  const SaveOutcome saved = SaveSimToFile(tool.session, tool.state.currentFileName, [&s](int done) {
    if (done == 0) {
      Say(s, kLabelRead);
      StartProgress(s, kTextRow);
    } else {
      AdvanceProgress(s, kTextRow, done);
    }
    s.Present();
  });
  switch (saved.step) {
    case SaveStep::Saved: break;
    case SaveStep::CreateFailed: CreateFailed(s, saved.fault); return;
    case SaveStep::DeviceFailed: ExchangeFailed(tool, saved.device); return;
    case SaveStep::WriteFailed: FileFailed(s, InABar(kFileWriteError), ColorAlert, saved.fault); return;
  }
  Finish(s, kSaved);
}

void FileToSim(Tool& tool) {
  Screen& s = tool.screen;
  if (!tool.state.deviceConnected) {
    ShowExchangeError(s, xerr::NoPort);
    return;
  }
  OpenPanel(s);
  if (ChooseFile(tool.screen, tool.state.currentFileName, kPattern) != ChooseAccepted) {
    ClosePanel(s);
    return;
  }
  // The file is read once, before the question: what the question says it
  // changes is what is written. One that cannot be read is said after the
  // answer, as the other transfers say it.
  const ChosenFile file = ReadChosen(tool);
  Say(s, kAskFileToSim);
  SayTarget(s, ShownFileName(tool) + kArrow + GatewayName(tool));
  // While connected the image is the SIM: the connection read it whole, and
  // every write since went into both (a refused one reads its cell back, an
  // unanswered one ends the connection). The SIM need not be read for it.
  const bool changesShown = file.read == FileReadResult::Ok;
  if (changesShown) ShowChangesBeforeWrite(s, tool.image, file.bytes);
  s.DiscardTypeahead();
  if (!s.ReadYes()) {
    ClosePanel(s);
    return;
  }
  BlankRow(s, kDetailRow);
  if (changesShown) BlankChangesBeforeWrite(s);
  if (!FileRead(s, file)) return;
  const std::string& bytes = file.bytes;
  // A file without the gateway's signature in cell 98 would leave a SIM the
  // next connection takes for an uninitialised one, and initialising it
  // overwrites all 99 cells.
  if (!CarriesGatewaySettings(bytes) && !AskYes(s, kAskUnsigned)) {
    ClosePanel(s);
    return;
  }
  // Esc between two lines asks whether to stop there; the rows under the
  // progress line hold the question while it waits.
  const auto stop = [&s] {
    const bool esc = s.EscPressed();
    // A Ctrl+C (acknowledged on the bottom row as it came) stops after the
    // line in flight, without a question: the tool then leaves.
    if (s.LeavePending()) return true;
    if (!esc) return false;
    s.PutTextAttr(kTextX, kDetailRow + 1, kAskStop, ColorAlert);
    s.PutTextAttr(kTextX, kDetailRow + 2, kStopWarning, ColorAlert);
    s.DiscardTypeahead();
    const bool yes = s.ReadYes();
    BlankRow(s, kDetailRow + 1);
    BlankRow(s, kDetailRow + 2);
    return yes;
  };
  const SendOutcome sent = SendFileToSim(
      tool.session, bytes, tool.state.currentFileName,
      [&s](int done) {
        if (done == 0) {
          Say(s, kLabelWritten);
          StartProgress(s, kTextRow);
          BlankRow(s, kDetailRow);
          s.PutTextAttr(kTextX, kDetailRow, kEscStops, ColorPanel);
        } else {
          AdvanceProgress(s, kTextRow, done);
        }
      },
      stop);
  BlankRow(s, kDetailRow);
  if (sent.journalFailed) {
    FileFailed(s, InABar(kFileWriteError), ColorAlert, sent.journalFault);
    return;
  }
  if (sent.device.Failed()) {
    ExchangeFailed(tool, sent.device);
    return;
  }
  if (sent.stopped) {
    // The SIM holds part of the file: the image no longer shows it, so the
    // connection is to be made anew (which then tells of the stop).
    tool.image.ClearImage();
    char text[96];
    std::snprintf(text, sizeof text, kStopped, sent.sent, sent.total);
    BlankRow(s, kTextRow);
    s.PutTextAttr(kTextX, kTextRow, text, ColorAlert);
    s.PutTextAttr(kTextX, kDetailRow, kStoppedMix, ColorAlert);
    s.PutTextAttr(kTextX, kDetailRow + 1, kConnectAnew, ColorAlert);
    s.DiscardTypeahead();
    s.ReadKeyCode();
    ClosePanel(s);
    return;
  }
  tool.image.ClearImage();
  const ExchangeFault readBack = ReadSimCells(tool.session, nullptr, [&s](int done) {
    if (done == 0)
      Say(s, kLabelReadBack);
    else
      AdvanceProgress(s, kTextRow, done);
    s.Present();
  });
  if (readBack.Failed()) {
    ExchangeFailed(tool, readBack);
    return;
  }
  // The SIM holds the file whole (refused lines are said below): the
  // journal of the write is done with.
  RemoveJournal(tool.state.portIndex, tool.state.gatewayIndex);
  const WriteTally& tally = sent.tally;
  const int total = sent.total;
  const std::vector<int>& refusedLines = sent.refusedLines;
  if (tally.Failed() > 0) {
    char text[96];
    char padded[96];
    std::snprintf(text, sizeof text, kRefusedLines, tally.Failed(), total);
    std::snprintf(padded, sizeof padded, "%-56s", text);  // over the progress line
    BlankRow(s, kTextRow);
    s.PutTextAttr(kTextX, kTextRow, padded, ColorAlert);
    std::string listed = kRefusedLineList;
    for (std::size_t n = 0; n < refusedLines.size(); ++n) {
      if (n == kRefusedListed) {
        listed += ", ...";
        break;
      }
      char number[8];
      std::snprintf(number, sizeof number, "%s%02d", n == 0 ? " " : ", ", refusedLines[n]);
      listed += number;
    }
    s.PutTextAttr(kTextX, kDetailRow, listed.c_str(), ColorAlert);
    s.DiscardTypeahead();
    s.ReadKeyCode();
    ClosePanel(s);
    return;
  }
  BlankRow(s, kDetailRow);
  s.PutText(kTextX, kDetailRow, WrittenAndMatched(sent).c_str());
  Finish(s, kSentAndRead);
}

void LoadForEditing(Tool& tool) {
  Screen& s = tool.screen;
  if (!ConfirmDiscardUnsavedEdits(tool)) return;
  if (!ChooseAndConfirm(tool, kAskLoad)) return;
  std::string bytes;
  if (!ReadChosenFile(tool, bytes)) return;
  ParseSettingsText(bytes, tool.image);
  Say(s, kLoaded);
  s.ReadKeyCode();
  // The panel stays until the menu redraws the screen.
  tool.state.deviceConnected = false;
  tool.state.fileLoaded = true;
  tool.state.unsavedEdits = false;
}

void SaveToFile(Tool& tool) {
  Screen& s = tool.screen;
  if (!tool.state.deviceConnected && !tool.state.fileLoaded) {
    ShowExchangeError(s, xerr::NoPort);
    return;
  }
  if (!ChooseAndConfirm(tool, kAskSave, kAskReplaceSave)) return;
  AtomicFileWriter file;
  if (!file.Open(tool.state.currentFileName)) {
    CreateFailed(s, file.Fault());
    return;
  }
  if (!file.Commit(EncodeSettingsFile(tool.image))) {
    FileFailed(s, InABar(kFileWriteError), ColorAlert, file.Fault());
    return;
  }
  tool.state.unsavedEdits = false;
  Finish(s, kSaved);
}

bool ConfirmDiscardUnsavedEdits(Tool& tool) {
  if (!tool.state.fileLoaded || !tool.state.unsavedEdits) return true;
  return AskOver(tool.screen, kDiscardQuestion, kUnsavedEdits);
}

}  // namespace tv
