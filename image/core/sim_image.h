// The one in-memory copy of the SIM phonebook (cells 1..99, each a number
// text and a name text of at most 47 characters), its cell map and mode
// string, and the work state that says where the image came from.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tv {

inline constexpr int CellSlots = 100;      // slots 0..99; slot 0 is never used
inline constexpr int TextFieldBytes = 48;  // 47 characters and a zero byte
inline constexpr int TextMax = TextFieldBytes - 1;

// The cell map.
inline constexpr int ContactFirst = 1, ContactLast = 39;
inline constexpr int ForbiddenFirst = 40, ForbiddenLast = 49;
inline constexpr int AllowedFirst = 50, AllowedLast = 59;
inline constexpr int RoutingFirst = 60, RoutingLast = 69;
inline constexpr int BlackListFirst = 70, BlackListLast = 79;
inline constexpr int WhiteListFirst = 80, WhiteListLast = 89;
inline constexpr int CallBackFirst = 90, CallBackLast = 97;
inline constexpr int ModeCell = 98;
inline constexpr int ForwardCell = 99;

// Positions of the mode string (number text of the mode cell).
inline constexpr int OutgoingControl = 0;
inline constexpr int IncomingControl = 1;
inline constexpr int IncomingBarring = 2;
inline constexpr int OutgoingBarring = 3;
inline constexpr int ForwardDelay = 4;  // two digits, positions 4 and 5
inline constexpr int MessageMode = 6;

// Name text of the mode cell on a SIM prepared for the gateway.
inline constexpr const char* SimSignature = "98.GSM.TRV";
inline constexpr int SimSignatureLength = 10;
inline constexpr const char* DefaultModeString = "0000100";

class SimImage {
 public:
  // Every position of both texts of all slots becomes zero.
  void ClearImage();

  // The text up to its terminating zero.
  std::string_view CellNumber(int cell) const { return View(numbers_[cell]); }
  std::string_view CellName(int cell) const { return View(names_[cell]); }
  // Replace the whole text (cut at 47 characters); the rest becomes zero.
  void SetCellNumber(int cell, std::string_view text) { Set(numbers_[cell], text); }
  void SetCellName(int cell, std::string_view text) { Set(names_[cell], text); }

  // Raw 48-byte fields, for editors that work on single positions.
  char* NumberField(int cell) { return numbers_[cell]; }
  char* NameField(int cell) { return names_[cell]; }
  const char* NumberField(int cell) const { return numbers_[cell]; }
  const char* NameField(int cell) const { return names_[cell]; }

  // One character of the mode string, read and written in place.
  char ModeChar(int position) const { return numbers_[ModeCell][position]; }
  void SetModeChar(int position, char c) { numbers_[ModeCell][position] = c; }

  // Whether the name of the mode cell begins with the signature.
  bool HasSignature() const;

 private:
  static std::string_view View(const char* field);
  static void Set(char* field, std::string_view text);

  char numbers_[CellSlots][TextFieldBytes] = {};
  char names_[CellSlots][TextFieldBytes] = {};
};

// Display texts of the mode string positions, padded as the forms show them
// (controls and message 34 characters, barrings 9).
inline constexpr int ModeTextWidth = 34;
std::string OutgoingControlText(char c);
std::string IncomingControlText(char c);
std::string BarringText(char c);
std::string MessageModeText(char c);

// Where the image came from, and the choices that the status area shows.
struct WorkState {
  bool deviceConnected = false;  // the port is open and the last connection did not fail
  bool fileLoaded = false;       // the image was loaded from a settings file for editing
  int portIndex = 0;             // 0..15 into PortNames
  int gatewayIndex = 0;          // 0..3 into GatewayNames
  bool focusOnGateway = false;   // the connection dialog's focus
  std::string currentFileName;   // last name accepted by the file chooser
};

}  // namespace tv
