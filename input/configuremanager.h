#pragma once

#include <string_view>

#include "input/operationtable.h"

// Reader of the key-mapping file. The file is plain text, one field per line:
//
//   {                  opens a record (the line holds exactly this)
//   Keycode: 87        a Windows virtual-key code of the combination (at most two per record)
//   Phonex: 32768      touch point, or start of a slide
//   Phoney: 32768
//   Endx: 40000        end of a slide
//   Endy: 32768
//   Operationid: 100   100 tap, 102 slide, anything else does nothing
//   }                  closes the record; it enters the table
//
// "GAMENAME:", "Alias:", "Detal:", "Detat:", "Detar:" and "Detab:" lines, and any other line, change nothing.
// Lines may end in LF or CR LF and hold at most 999 characters; a longer line ends the reading there.
class ConfigureManager {
public:
    // Reads platform::keymapFilePath(). When the file cannot be opened the
    // table is left as it was.
    static void readConfigTwo(OperationTable& table);
    // Reads the same format from memory.
    static void readConfigText(std::string_view text, OperationTable& table);
};
