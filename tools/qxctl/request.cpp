#include "tools/qxctl/request.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>

#include "control/mrcp.h"
#include "control/streamdata.h"

namespace {

// The client takes at most 64 bytes of address text.
constexpr size_t kMaxAddress = 64;

bool parseNumber(const std::string& text, uint32_t* value) {
    if (text.empty() || text[0] == '+' || isspace(static_cast<unsigned char>(text[0]))) return false;
    // Decimal unless 0x says hex: a leading zero must not turn a coordinate octal.
    const size_t digits = text[0] == '-' ? 1 : 0;
    const bool hex = text.compare(digits, 2, "0x") == 0 || text.compare(digits, 2, "0X") == 0;
    errno = 0;
    char* end = nullptr;
    const long long number = strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || number < INT32_MIN || number > UINT32_MAX) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

struct Verb {
    const char* name;
    uint32_t code;
    size_t numbers;  // numeric arguments after the verb (after the address for connect)
    const char* usage;
};

constexpr Verb kVerbs[] = {
    {"connect", 501, 4, "connect HOST:PORT X Y W H"},
    {"disconnect", 503, 1, "disconnect ID"},
    {"setwindow", 505, 5, "setwindow ID X Y W H"},
    {"exit", 507, 0, "exit"},
    {"state", 509, 2, "state ID N"},
    {"forward", 0, 3, "forward CODE PARAM ID"},
};

}  // namespace

bool parseRequest(const std::vector<std::string>& words, Request* request, std::string* error) {
    if (words.empty()) {
        *error = "no command";
        return false;
    }
    const Verb* verb = nullptr;
    for (const Verb& candidate : kVerbs) {
        if (words[0] == candidate.name) verb = &candidate;
    }
    if (!verb) {
        *error = "unknown command '" + words[0] + "'";
        return false;
    }
    const bool connect = verb->code == 501;
    const size_t first = connect ? 2 : 1;
    if (words.size() != first + verb->numbers) {
        *error = std::string("usage: ") + verb->usage;
        return false;
    }
    std::vector<uint32_t> numbers;
    for (size_t i = first; i < words.size(); ++i) {
        uint32_t value = 0;
        if (!parseNumber(words[i], &value)) {
            *error = "not a number: '" + words[i] + "'";
            return false;
        }
        numbers.push_back(value);
    }
    Request parsed;
    parsed.code = verb->code;
    if (connect) {
        const std::string& address = words[1];
        if (address.find(':') == std::string::npos || address.size() > kMaxAddress) {
            *error = "address must be HOST:PORT, at most 64 characters";
            return false;
        }
        parsed.address = address;
    }
    if (verb->code == 0) {
        // Only the pass-through codes: any other code could draw a reply that no one reads, and the next
        // request would take it for its own.
        constexpr uint32_t kForwardCodes[] = {110, 111, 113, 117, 270, 272};
        if (std::find(std::begin(kForwardCodes), std::end(kForwardCodes), numbers[0]) ==
            std::end(kForwardCodes)) {
            *error = "forward takes the codes 110, 111, 113, 117, 270 and 272";
            return false;
        }
        // forward CODE PARAM ID: the code travels as the frame's code, the identifier as its payload.
        parsed.code = numbers[0];
        parsed.param = numbers[1];
        parsed.words = {numbers[2]};
        parsed.expectsReply = false;
    } else {
        parsed.words = std::move(numbers);
    }
    *request = std::move(parsed);
    return true;
}

std::vector<std::string> splitLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == '#') break;
        if (isspace(static_cast<unsigned char>(c))) {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

uint32_t buildRequestFrame(const Request& request, uint8_t* out, uint32_t room) {
    StreamData frame(out, room);
    frame.skip(MRCP_HEADER_SIZE);
    frame.putUInt32(request.code);
    frame.putUInt32(request.param);
    for (uint32_t word : request.words)
        frame.putUInt32(word);
    if (request.code == 501) {
        frame.putUInt32(static_cast<uint32_t>(request.address.size()));
        frame.putBytes(reinterpret_cast<const uint8_t*>(request.address.data()),
                       static_cast<uint32_t>(request.address.size()));
    }
    if (!frame.ok()) return 0;
    mrcp_build_header(out, frame.length() - MRCP_HEADER_SIZE, 0);
    return frame.length();
}
