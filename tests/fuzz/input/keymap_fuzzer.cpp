// Feeds arbitrary text to the key-mapping reader, then presses the keys of every record it read and looks
// each combination up, as a window would.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "input/configuremanager.h"
#include "input/operationtable.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A refused key code writes a log line; keep the log out of the working directory.
    setenv("QX_LOG_FILE", "/dev/null", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OperationTable table;
    ConfigureManager::readConfigText(std::string_view(reinterpret_cast<const char*>(data), size), table);
    std::vector<PcOperation> records;
    for (const auto& entry : table.operations())
        records.push_back(entry.first);
    for (const PcOperation& keys : records) {
        for (uint32_t i = 0; i < keys.keyCount; ++i)
            table.setKeyState(keys.keys[i], true);
        table.findOperation();
        for (uint32_t i = 0; i < keys.keyCount; ++i)
            table.setKeyState(keys.keys[i], false);
    }
    return 0;
}
