// Settings files ("*.set"): one text line per SIM cell, CR LF, padded with
// NUL bytes to whole 256-byte blocks. Two line forms are read alike:
//   written from the image:   ` 07,"0",129,"07"\r\n`
//   copied from the device:   ` 7,"+79161234567",145,"07"\r\n`  (the "+CPBR:" reply after its colon)
// Encoding, parsing and splitting, all pure; reading and replacing the files
// themselves is the platform's (platform/file_access.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/sim_image.h"

namespace tv {

inline constexpr int FileBlockBytes = 256;
// The largest settings file the tool reads (its whole content is held at once).
inline constexpr int SettingsFileMaxBytes = 32768;
// Lines a settings file holds: cells 1..99.
inline constexpr int SettingsLines = 99;

// The line of one cell as the image is saved, CR LF included (15 bytes plus
// both texts).
std::string EncodeSaveLine(int index, std::string_view number, std::string_view name);
// The 99 lines of cells 1..99, without padding.
std::string EncodeSettingsText(const SimImage& image);
// Text followed by NUL bytes up to the next multiple of 256; at least one NUL
// always follows, so a text of 512 bytes gives 768 bytes.
std::string PadToBlocks(std::string text);
// The whole file of an image: EncodeSettingsText, padded.
std::string EncodeSettingsFile(const SimImage& image);

// The content of a file: its bytes up to the padding, the first NUL that
// begins a line. NULs inside a line belong to its texts. A UTF-8 byte-order
// mark at the start (EF BB BF, put there by Windows editors) is not content.
std::string_view SettingsContent(std::string_view fileBytes);

// Replaces the image with the cells the file names. Blanks are dropped
// everywhere, texts included; the number type and anything after the name
// are ignored. Lines naming no cell of 1..99 are ignored, texts are cut at
// 47 characters (the cell is then marked shortened), and a line ends at CR or LF (files edited on Linux often
// lack the CR). Cells that no line names are empty.
void ParseSettingsText(std::string_view fileBytes, SimImage& image);

// The image as the SIM holds it once File to SIM has sent the file: each
// cell a sent line names is replaced whole as its write replaces it (a line
// of the index alone, AT+CPBW= 5, empties it), the cells no line names stay
// as they were. A line whose index is not a cell 1..99 changes nothing: the
// SIM refuses it.
void OverlaySettingsText(std::string_view fileBytes, SimImage& image);

// The phonebook write commands of a file, one per line, in file order, at
// most 99: "AT+CPBW=" and the line up to its LF, ending in exactly one CR
// (a line without CR gets one). Empty lines are passed over. A line is sent
// whole however long it is: the SIM refuses what it cannot take, and the
// transfer counts that, where a line left out would be a cell lost unseen.
std::vector<std::string> SplitLinesForSim(std::string_view fileBytes);

// The file changed to hold the edited image, as a hand edit would change it:
// for each cell whose texts differ from the file's own (as ParseSettingsText
// reads them), the last line naming that cell (the one that wins) is written
// anew in the saved form (type 145 for a number that begins with '+', as
// the device reports it), its line end kept as it was; a cell no line names
// gets a new line after the last one, in the line ends the file uses. Every
// other byte stays: the order of the lines, lines naming no cell, the byte
// order mark and the padding (the same size of file while the text fits in
// it with a NUL to spare, else padded anew to whole blocks).
std::string RewriteSettingsFile(std::string_view fileBytes, const SimImage& edited);

}  // namespace tv
