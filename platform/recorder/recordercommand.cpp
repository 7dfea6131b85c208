#include "recordercommand.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace
{

std::string decodeEntities(const std::string& text)
{
    static const struct {
        const char* entity;
        char character;
    } entities[] = { { "&amp;", '&' }, { "&quot;", '"' }, { "&apos;", '\'' }, { "&lt;", '<' }, { "&gt;", '>' } };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& e : entities) {
                const std::string entity = e.entity;
                if (text.compare(i, entity.size(), entity) == 0) {
                    out += e.character;
                    i += entity.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[i++];
    }
    return out;
}

// The value of name="..." (or '...'); the closing quote is the last one of that kind before the
// element's end, so quotes inside the value survive.
bool attribute(const std::string& element, const std::string& name, std::string* value)
{
    for (char quote : { '"', '\'' }) {
        const std::string key = name + "=" + quote;
        size_t at = element.find(key);
        while (at != std::string::npos && at > 0 && !std::isspace(static_cast<unsigned char>(element[at - 1])))
            at = element.find(key, at + 1);
        if (at == std::string::npos)
            continue;
        const size_t begin = at + key.size();
        const size_t end = element.rfind(quote);
        if (end == std::string::npos || end < begin)
            return false;
        *value = decodeEntities(element.substr(begin, end - begin));
        return true;
    }
    return false;
}

} // namespace

RecorderCommand RecorderCommand::parse(const std::string& line)
{
    RecorderCommand command;
    size_t begin = 0;
    while (begin < line.size() && std::isspace(static_cast<unsigned char>(line[begin])))
        ++begin;
    size_t end = line.size();
    while (end > begin && std::isspace(static_cast<unsigned char>(line[end - 1])))
        --end;
    if (begin == end)
        return command;
    const std::string element = line.substr(begin, end - begin);
    command.kind = Kind::Unknown;
    if (element.front() != '<' || element.back() != '>')
        return command;
    size_t nameEnd = 1;
    while (nameEnd < element.size() && !std::isspace(static_cast<unsigned char>(element[nameEnd]))
        && element[nameEnd] != '/' && element[nameEnd] != '>')
        ++nameEnd;
    command.name = element.substr(1, nameEnd - 1);

    if (command.name == "start") {
        command.kind = Kind::Start;
    } else if (command.name == "quit" || command.name == "exit") {
        command.kind = Kind::Quit;
    } else if (command.name == "record_level") {
        std::string value;
        if (attribute(element, "gain", &value) && !value.empty()) {
            char* rest = nullptr;
            const double gain = std::strtod(value.c_str(), &rest);
            if (rest && *rest == '\0' && std::isfinite(gain)) {
                command.kind = Kind::Level;
                command.gain = gain;
            }
        }
    } else if (command.name == "record_chop") {
        command.kind = Kind::Chop;
        attribute(element, "filename", &command.filename);
    }
    return command;
}
