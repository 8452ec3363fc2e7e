// The 80x25 text screen: a grid of (cp866 character, PC attribute) cells with
// one cursor and one current attribute, the console operations on it, the
// drawing routines built from them, and key reading.
//
// Everything is in memory; a Console (the terminal backend, or a scripted one
// in tests) only shows the grid and supplies keys.
#pragma once

#include <chrono>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "cp866/literal.h"
#include "screen/colors.h"
#include "screen/console.h"
#include "screen/keys.h"

namespace tv {

inline constexpr int ScreenWidth = 80;
inline constexpr int ScreenHeight = 25;
// One saved whole screen: two bytes (character, attribute) per cell.
inline constexpr std::size_t ScreenSaveBytes = ScreenWidth * ScreenHeight * 2;

// cp866 line characters.
namespace line {
inline constexpr uint8_t SingleTopLeft = 0xDA, SingleHorizontal = 0xC4, SingleTopRight = 0xBF,
                         SingleVertical = 0xB3, SingleBottomLeft = 0xC0, SingleBottomRight = 0xD9;
inline constexpr uint8_t DoubleTopLeft = 0xC9, DoubleHorizontal = 0xCD, DoubleTopRight = 0xBB,
                         DoubleVertical = 0xBA, DoubleBottomLeft = 0xC8, DoubleBottomRight = 0xBC;
inline constexpr uint8_t LightShade = 0xB0, FullBlock = 0xDB;
}  // namespace line

// Keys typed while the tool waited for the device were typed blind: they and
// the rest of their burst are dropped. A key belongs to the burst until the
// keyboard has been quiet this long (typing runs at 100..400 ms a key, a
// held key repeats every 30..50 ms).
inline constexpr std::chrono::milliseconds TypingBurstQuiet{600};

// Thrown out of a key read when the operator leaves the tool from wherever he
// is (Ctrl+C, answered yes, or pressed twice): the main loop ends on it as
// after the Exit item, with the terminal and the port given back.
struct LeaveRequested {};

struct ScreenCell {
  uint8_t ch = ' ';
  uint8_t attr = ColorNormal;
  bool operator==(const ScreenCell&) const = default;
};

class Screen {
 public:
  explicit Screen(Console* console = nullptr);

  void AttachConsole(Console* console) { console_ = console; }
  Console* AttachedConsole() const { return console_; }

  // --- console operations (positions 1-based) ---
  void SetCursor(int x, int y);
  void SetAttribute(uint8_t attr) { attr_ = attr; }
  void WriteChar(uint8_t c);
  void WriteString(const char* text);
  // Writes the byte as the character it shows, control bytes included (the
  // terminal shows them as their PC glyphs): for texts that come from the
  // device, files or the network, which must not move the cursor.
  void WriteGlyph(uint8_t c);
  void WriteFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void ClearScreen();
  // Waits for a key: a character code, or 0 followed (on the next call) by a scan code.
  int ReadKey();
  // Copies the inclusive rectangle into buf (2 bytes a cell); 0 if the
  // rectangle is outside the screen or inverted, else 1.
  int SaveRect(int left, int top, int right, int bottom, uint8_t* buf) const;
  int RestoreRect(int left, int top, int right, int bottom, const uint8_t* buf);

  // --- drawing routines ---
  void PutText(int x, int y, const char* text);
  void PutTextAttr(int x, int y, const char* text, uint8_t attr);
  void DrawPanel(int x, int y, int w, int h);
  void ErasePanel(int x, int y, int w, int h);
  void DrawPanelRect(int x1, int y1, int x2, int y2);
  void DrawFrame(int x1, int y1, int x2, int y2, uint8_t c);
  // ReadKey, with an extended key's prefix swallowed: returns the scan code.
  int ReadKeyCode();
  // A key read whole for questions that want a character: the character, or
  // NoCharacter for an extended key, whose scan code is taken too (so it can
  // neither pass for a letter, PgUp being 0x49 'I', nor reach the next screen).
  // The letters asked for are taken on a Russian layout too: Ш reads as I and
  // Н as Y (the same keys), in either case.
  static constexpr int NoCharacter = -1;
  int ReadCharacterKey();
  // The answer to a "[Y/N]" question: only y or Y (Н, н) goes on.
  bool ReadYes();
  void HintsDigitEntry();
  void HintsParameterChoice();
  void HintsFieldEdit();

  // Whether Esc has been pressed while the tool was busy (other keys pressed
  // meanwhile are dropped): lets a long wait on the device be left.
  bool EscPressed();
  // Takes the keys typed during a wait as they come: a Ctrl+C is answered
  // at once (see LeavePending), an Esc kept for the next EscPressed, the
  // rest dropped as typed blind.
  void WatchKeys();
  // Drops keys pressed but not yet read (a Ctrl+C among them is kept).
  void DiscardTypeahead();
  // A Ctrl+C came during a wait and is not answered yet: a transfer stops
  // after the cell in flight, and the tool then leaves as Exit does.
  bool LeavePending() const { return ctrlCPending_ > 0; }
  // A one-line notice centred on the bottom row over whatever stands there,
  // shown at once and taken away at the next key (where the row still shows
  // it).
  void ShowNotice(const char* text, uint8_t attr = ColorAlert);
  // The tool waits for the device or lets a message stand: the keys typed
  // from now until the next key read answer nothing, whatever screen reads
  // next. Shows the screen first.
  void NoteWait();

  // Ctrl+C, typed anywhere: asks whether to leave (true: leave). Set by the
  // main loop; it may read keys itself (a second Ctrl+C then leaves at once).
  // Without it Ctrl+C leaves at once.
  void SetLeaveQuestion(std::function<bool()> ask) { leaveQuestion_ = std::move(ask); }

  // Shows the grid as it is now (the operator must see it whenever the tool
  // waits: for a key, for the device, for a delay). Cheap when nothing changed.
  void Present();

  // --- inspection (tests, terminal backend) ---
  const ScreenCell& At(int x, int y) const { return cells_[y - 1][x - 1]; }
  uint8_t CharAt(int x, int y) const { return At(x, y).ch; }
  uint8_t AttrAt(int x, int y) const { return At(x, y).attr; }
  // count characters of row y from column x (to the end of the row by default).
  std::string TextAt(int x, int y, int count = -1) const;
  int CursorX() const { return cx_; }
  int CursorY() const { return cy_; }
  uint8_t Attribute() const { return attr_; }
  // Changes with every modification of the cells or the cursor.
  uint64_t Version() const { return version_; }
  // Whole screen as 25 lines of 80 cp866 characters, for goldens and dumps.
  std::string Dump() const;

 private:
  void Put(uint8_t c);
  void ScrollUp();
  // Takes every key already typed: Ctrl+C is remembered, Esc reported
  // (when wantEsc), the rest dropped.
  bool DrainKeys(bool wantEsc);
  void NoteCtrlC();
  void AskToLeave();
  // After a wait: drops the keys typed during it and the rest of their
  // burst; true when there were any.
  bool DropBlindBurst();
  void TakeNoticeAway();
  void VersionBump() { ++version_; }

  Console* console_;
  ScreenCell cells_[ScreenHeight][ScreenWidth];
  int cx_ = 1, cy_ = 1;
  uint8_t attr_ = ColorNormal;
  int pendingScan_ = -1;
  uint64_t version_ = 1;
  bool waited_ = false;       // a wait since the last key read: typed-ahead keys are dropped
  int ctrlCPending_ = 0;      // Ctrl+C typed while the tool was busy
  bool askingToLeave_ = false;
  bool burstSeen_ = false;    // a key was typed during the current wait
  bool escSeen_ = false;      // an Esc taken by WatchKeys, not yet asked for
  bool noticeShown_ = false;
  ScreenCell noticeUnder_[ScreenWidth];  // the bottom row under the notice
  ScreenCell noticeRow_[ScreenWidth];    // the bottom row with it
  std::function<bool()> leaveQuestion_;
};

}  // namespace tv
