#include "input/configuremanager.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <streambuf>
#include <string>

#include "control/log.h"
#include "platform/paths.h"

namespace {

constexpr size_t kMaxLine = 999;
// The longest key or value the format allows; a longer token is ignored.
constexpr size_t kMaxToken = 99;

// A read-only stream buffer over memory, so text and file go through the same line reader.
class MemoryBuffer : public std::streambuf {
public:
    explicit MemoryBuffer(std::string_view text) {
        char* begin = const_cast<char*>(text.data());
        setg(begin, begin, begin + text.size());
    }
};

// Reads the next line without its LF or CR LF. False at the end of the input, and for a line longer than
// kMaxLine, which ends the reading as the end of the input would.
bool readLine(std::streambuf& in, std::string& line) {
    line.clear();
    int c;
    while ((c = in.sbumpc()) != std::char_traits<char>::eof() && c != '\n') {
        if (line.size() > kMaxLine) return false;  // room for one more character: the CR of a CR LF
        line.push_back(static_cast<char>(c));
    }
    if (c == std::char_traits<char>::eof() && line.empty()) return false;
    if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
    return line.size() <= kMaxLine;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Cuts the next whitespace-separated token off the front of rest; empty when none is left.
std::string_view nextToken(std::string_view& rest) {
    size_t begin = 0;
    while (begin < rest.size() && isSpace(rest[begin]))
        ++begin;
    size_t end = begin;
    while (end < rest.size() && !isSpace(rest[end]))
        ++end;
    std::string_view token = rest.substr(begin, end - begin);
    rest.remove_prefix(end);
    return token;
}

// A signed 32-bit decimal number with an optional sign at the start of the token, as a stream extraction
// reads it; nothing when the token does not start with one, overflows, or is too long to be a value.
std::optional<int32_t> parseInt(std::string_view token) {
    if (token.size() > kMaxToken) return std::nullopt;
    const bool plus = !token.empty() && token.front() == '+';
    if (plus) token.remove_prefix(1);
    if (token.empty() || (plus && (token.front() < '0' || token.front() > '9'))) return std::nullopt;
    int32_t value = 0;
    if (std::from_chars(token.data(), token.data() + token.size(), value).ec != std::errc())
        return std::nullopt;
    return value;
}

struct IntField {
    std::string_view key;
    int32_t PhoneOperation::*field;
};

// In the order the keys are checked.
constexpr IntField kIntFields[] = {
    {"Phonex:", &PhoneOperation::phoneX},
    {"Phoney:", &PhoneOperation::phoneY},
    {"Operationid:", &PhoneOperation::operationId},
    {"Endx:", &PhoneOperation::endX},
    {"Endy:", &PhoneOperation::endY},
};

// The reading state of one file. Field lines after a "}" still change the record just closed (its touch
// side is the one the table holds), and "Keycode:" lines there still register their codes, as files
// written for this format expect; lines before the first "{" have no record and are ignored.
class KeymapReader {
public:
    explicit KeymapReader(OperationTable& table) : table_(table) { table_.clear(); }

    void read(std::streambuf& in) {
        std::string line;
        while (readLine(in, line))
            readRecordLine(line);
    }

private:
    void readRecordLine(std::string_view line) {
        if (line == "{") {
            keys_.emplace(closed_);
            pending_ = PhoneOperation{};
            phone_ = &pending_;
            return;
        }
        if (!phone_) return;
        if (line == "}") {
            ++closed_;
            phone_ = table_.addOperation(*keys_, *phone_);
            return;
        }
        std::string_view rest = line;
        std::string_view key = nextToken(rest);
        std::optional<int32_t> value = parseInt(nextToken(rest));
        if (!value) return;
        if (key == "Keycode:") {
            addKey(static_cast<uint32_t>(*value));
            return;
        }
        for (const IntField& field : kIntFields) {
            if (key == field.key) {
                phone_->*field.field = *value;
                return;
            }
        }
    }

    void addKey(uint32_t code) {
        if (!keys_->AddOneKey(code)) {
            log_write(LOG_USER_ERROR, "AddOneKey %d failed", static_cast<int>(code));
            return;
        }
        table_.addKey(code);
    }

    OperationTable& table_;
    uint32_t closed_ = 0;              // records closed so far: the id of the next one opened
    std::optional<PcOperation> keys_;  // key side of the working record
    PhoneOperation pending_;           // touch side of the open record until its "}"
    PhoneOperation* phone_ = nullptr;  // working touch side: pending_, or the table's once closed
};

}  // namespace

void ConfigureManager::readConfigTwo(OperationTable& table) {
    const std::string path = platform::keymapFilePath();
    std::filebuf file;
    if (!file.open(path, std::ios::in | std::ios::binary)) {
        log_write(LOG_USER_ERROR, "%s open config file failed line %d", "ConfigureManager::readConfigTwo",
                  __LINE__);
        return;
    }
    KeymapReader(table).read(file);
}

void ConfigureManager::readConfigText(std::string_view text, OperationTable& table) {
    MemoryBuffer buffer(text);
    KeymapReader(table).read(buffer);
}
