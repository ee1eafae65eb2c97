#include "mutator.h"

#include <algorithm>

namespace zolfuzz {

namespace {

const char* const kInteresting[] = {
    "<",        ">",         "</",       "/>",       "&amp;",   "&#0;",      "&#xFFFF;", "<![CDATA[", "]]>",
    "\"",       "'",         "=",        "%",        "%SystemRoot%", "%UNSET_VARIABLE%", "\\",  "[",  "]",
    ",",        ";",         "\r\n",     "\n",       " ",       "\t",        "\xEF\xBB\xBF", "\xFF\xFE", "\x00",
    "\x81",     "\xE0\x40",  "0x10",     "-1",       "4294967296", "99",     "16406",    "@",        "\"\"",
    "<!DOCTYPE a [<!ENTITY e \"xxxxxxxxxx\">]>", "&e;", "encoding=\"Shift_JIS\"", "encoding=\"UTF-16\"",
    "encoding=\"EBCDIC\"", "CopyFiles", "DelFiles", "RenFiles", "AddService", "DestinationDirs", ".SoftwareSettings",
};

std::string RandomBytes(CRandom& random, size_t n)
{
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(random.Below(256));
    return s;
}

void MutateOnce(std::string& data, const std::vector<std::string>& corpus, CRandom& random)
{
    size_t size = data.size();
    switch (random.Below(12)) {
    case 0: // flip bits
        if (size)
            data[random.Below(size)] ^= static_cast<char>(1u << random.Below(8));
        break;
    case 1: // random byte
        if (size)
            data[random.Below(size)] = static_cast<char>(random.Below(256));
        break;
    case 2: // insert random bytes
        data.insert(random.Below(size + 1), RandomBytes(random, 1 + random.Below(16)));
        break;
    case 3: // delete a range
        if (size) {
            size_t at = random.Below(size);
            data.erase(at, 1 + random.Below(std::min<size_t>(64, size - at)));
        }
        break;
    case 4: // truncate
        data.resize(random.Below(size + 1));
        break;
    case 5: { // splice from another input
        if (corpus.empty())
            break;
        const std::string& other = corpus[random.Below(corpus.size())];
        if (other.empty())
            break;
        size_t from = random.Below(other.size());
        size_t len = 1 + random.Below(std::min<size_t>(256, other.size() - from));
        data.insert(random.Below(size + 1), other.substr(from, len));
        break;
    }
    case 6: { // duplicate a range
        if (!size)
            break;
        size_t from = random.Below(size);
        size_t len = 1 + random.Below(std::min<size_t>(128, size - from));
        std::string piece = data.substr(from, len);
        size_t times = 1 + random.Below(8);
        std::string rep;
        for (size_t i = 0; i < times; ++i)
            rep += piece;
        data.insert(random.Below(size + 1), rep);
        break;
    }
    case 7: { // huge field
        size_t len = 200 + random.Below(20000);
        char c = "A9%\\ .x"[random.Below(7)];
        data.insert(random.Below(size + 1), std::string(len, c));
        break;
    }
    case 8: { // deep nesting
        size_t depth = 10 + random.Below(20000);
        std::string open, close;
        for (size_t i = 0; i < depth; ++i)
            open += "<n>";
        for (size_t i = 0; i < depth; ++i)
            close += "</n>";
        size_t at = data.find('>');
        at = (at == std::string::npos) ? 0 : at + 1;
        data.insert(at, open + close);
        break;
    }
    case 9: { // interesting token
        const char* token = kInteresting[random.Below(sizeof(kInteresting) / sizeof(kInteresting[0]))];
        std::string t(token);
        if (t.empty())
            t.assign(1, '\0');
        data.insert(random.Below(size + 1), t);
        break;
    }
    case 10: { // odd encodings: UTF-16 little endian with a byte-order mark
        if (random.Chance(50)) {
            std::string wide("\xFF\xFE", 2);
            for (char c : data) {
                wide += c;
                wide += '\0';
            }
            data = wide;
        } else {
            size_t at = data.find("encoding=");
            if (at != std::string::npos) {
                static const char* names[] = {"\"Shift_JIS\"", "\"SHIFT_JIS\"", "\"UTF-16\"", "\"ISO-8859-1\"",
                                              "\"KOI8-R\"", "\"\""};
                size_t end = data.find_first_of(" ?", at + 10);
                data.replace(at + 9, (end == std::string::npos ? data.size() : end) - (at + 9),
                             names[random.Below(6)]);
            }
        }
        break;
    }
    default: { // swap two ranges' bytes
        if (size < 2)
            break;
        std::swap(data[random.Below(size)], data[random.Below(size)]);
        break;
    }
    }
}

} // namespace

std::string Mutate(const std::string& seed, const std::vector<std::string>& corpus, CRandom& random)
{
    std::string data = seed;
    size_t rounds = 1 + random.Below(random.Chance(20) ? 16 : 4);
    for (size_t i = 0; i < rounds; ++i)
        MutateOnce(data, corpus, random);
    // Keep inputs to a size the readers are meant for (a few MB at most).
    if (data.size() > (4u << 20))
        data.resize(4u << 20);
    return data;
}

} // namespace zolfuzz
