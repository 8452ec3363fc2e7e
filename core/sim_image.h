// The one in-memory copy of the SIM phonebook (cells 1..99, each a number
// text and a name text of at most 47 characters), its cell map and mode
// string, and the work state that says where the image came from.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Texts are kept with their length, not up to a zero byte: in the modem's
// GSM alphabet '@' is byte 0, and such a text must come back to the SIM byte
// for byte. Positions behind a text are zero.
class SimImage {
 public:
  // Every position of both texts of all slots becomes zero.
  void ClearImage();

  // The whole text (at most 47 characters; zero bytes inside are part of it).
  std::string_view CellNumber(int cell) const { return {numbers_[cell], numberLength_[cell]}; }
  std::string_view CellName(int cell) const { return {names_[cell], nameLength_[cell]}; }
  // Replace the whole text; the rest becomes zero. A text over 47 characters
  // keeps its first 47 and the cell is marked as shortened (Shortened).
  void SetCellNumber(int cell, std::string_view text) {
    numberCut_[cell] = Set(numbers_[cell], numberLength_[cell], text);
  }
  void SetCellName(int cell, std::string_view text) {
    nameCut_[cell] = Set(names_[cell], nameLength_[cell], text);
  }
  // The cell holds less than the text it was given (a SIM or file text over
  // 47 characters): writing it back would shorten the SIM's entry.
  bool Shortened(int cell) const { return numberCut_[cell] || nameCut_[cell]; }

  // A cell as it stands, its shortened marks included, to be put back whole
  // (an edit the SIM did not take).
  struct CellState {
    std::string number, name;
    bool numberCut = false, nameCut = false;
  };
  CellState Cell(int cell) const {
    return {std::string(CellNumber(cell)), std::string(CellName(cell)), numberCut_[cell], nameCut_[cell]};
  }
  void Restore(int cell, const CellState& state) {
    SetCellNumber(cell, state.number);
    SetCellName(cell, state.name);
    numberCut_[cell] = state.numberCut;
    nameCut_[cell] = state.nameCut;
  }

  // Raw 48-byte fields, for reading single positions.
  const char* NumberField(int cell) const { return numbers_[cell]; }
  const char* NameField(int cell) const { return names_[cell]; }

  // One character of the mode string, read and written in place. A zero
  // ends the text there; a character written just behind the text extends
  // it (over the characters that follow it up to the next zero); one written
  // further behind stays outside the text.
  char ModeChar(int position) const { return numbers_[ModeCell][position]; }
  void SetModeChar(int position, char c);

  // Whether the name of the mode cell begins with the signature.
  bool HasSignature() const;

 private:
  static bool Set(char* field, uint8_t& length, std::string_view text);

  char numbers_[CellSlots][TextFieldBytes] = {};
  char names_[CellSlots][TextFieldBytes] = {};
  uint8_t numberLength_[CellSlots] = {};
  uint8_t nameLength_[CellSlots] = {};
  bool numberCut_[CellSlots] = {};
  bool nameCut_[CellSlots] = {};
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
  bool unsavedEdits = false;     // the loaded file's image was changed and not saved since
  int portIndex = 0;             // 0..15 into PortNames
  int gatewayIndex = 0;          // 0..3 into GatewayNames
  bool focusOnGateway = false;   // the connection dialog's focus
  std::string currentFileName;   // last name accepted by the file chooser
};

}  // namespace tv
