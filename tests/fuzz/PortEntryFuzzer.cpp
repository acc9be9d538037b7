// The port-entry reading and the sorted port list, fed arbitrary names.
//
// The whole input is one name for ReadPortEntry. Split at line breaks it is
// also a device walk for FillPortList: a piece starting with 0x01 is a device
// without a name, one starting with 0x7F breaks the walk off with the rest of
// the piece as the reason. Both are checked against models written here: the
// 8-bit copy from a table-driven UTF-8 check, the number through strtol, the
// order through a stable sort.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzCheck.h"
#include "discovery/DeviceSource.h"
#include "discovery/PortList.h"
#include "discovery/PortEntry.h"
#include "discovery/PortWalk.h"

namespace {

using namespace pelvar;

using fuzz::Broken;
using fuzz::Check;

// Bytes of the well-formed UTF-8 sequence at text[i] (Unicode's table of
// well-formed byte sequences), 0 when there is none.
std::size_t SequenceLength(const std::string& text, std::size_t i)
{
    struct Row {
        unsigned char lo, hi;   // lead byte range
        unsigned char lo2, hi2; // second byte range
        std::size_t length;
    };
    static const Row kRows[] = {
        {0x00, 0x7F, 0, 0, 1},       {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
        {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
        {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
    };
    const auto lead = static_cast<unsigned char>(text[i]);
    for (const Row& r : kRows) {
        if (lead < r.lo || lead > r.hi)
            continue;
        if (r.length == 1)
            return 1;
        if (text.size() - i < r.length)
            return 0;
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if (second < r.lo2 || second > r.hi2)
            return 0;
        for (std::size_t k = 2; k < r.length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if (c < 0x80 || c > 0xBF)
                return 0;
        }
        return r.length;
    }
    return 0;
}

std::string CString(const std::string& text) { return text.substr(0, text.find('\0')); }

// The copy the "(COM" test looks at: whole characters within 258 bytes;
// empty when a character it meets (the one at the cut included) is malformed.
std::string ModelCopy(const std::string& text)
{
    const std::string whole = CString(text);
    std::size_t end = 0;
    while (end < whole.size()) {
        const std::size_t n = SequenceLength(whole, end);
        if (n == 0)
            return {};
        if (end + n > kPortCopyLimit)
            break;
        end += n;
    }
    return whole.substr(0, end);
}

bool ModelHasMark(const std::string& text) { return ModelCopy(text).find("(COM") != std::string::npos; }

bool ModelReadPortEntry(const std::string& text, int* port)
{
    const std::size_t mark = ModelCopy(text).find("(COM");
    if (mark == std::string::npos)
        return false;
    const std::string whole = CString(text);
    const char* from = whole.c_str() + mark + 4;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(from, &end, 10);
    if (end == from)
        return false;
    *port = static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
    return true;
}

bool ModelLess(const std::string& a, const std::string& b)
{
    auto fold = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x80 ? static_cast<unsigned char>(std::tolower(u)) : u;
    };
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (fold(a[i]) != fold(b[i]))
            return fold(a[i]) < fold(b[i]);
    }
    return a.size() < b.size();
}

class PieceSource : public IDeviceSource {
public:
    explicit PieceSource(const std::vector<std::string>& pieces) : m_pieces(pieces) {}

    SourceResult Begin() override
    {
        m_next = 0;
        return SourceResult::Ok();
    }

    SourceResult Next(DeviceInfo& device) override
    {
        if (m_next >= m_pieces.size())
            return SourceResult::End();
        const std::string& piece = m_pieces[m_next++];
        if (!piece.empty() && piece[0] == '\x7F')
            return SourceResult::Failed(piece.substr(1));
        if (!piece.empty() && piece[0] == '\x01')
            device.name.reset();
        else
            device.name = piece;
        return SourceResult::Ok();
    }

private:
    const std::vector<std::string>& m_pieces;
    std::size_t m_next = 0;
};

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> pieces;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find('\n', from);
        pieces.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos)
            return pieces;
        from = at + 1;
    }
}

void CheckEntryReading(const std::string& text)
{
    int got = 0x5A5A;
    int want = 0;
    const bool found = ReadPortEntry(text, &got);
    Check(found == ModelReadPortEntry(text, &want), "port entry recognised as the model does");
    if (found)
        Check(got == want, "port number read as %d would read it");
    else
        Check(got == 0x5A5A, "port untouched when the text is no port entry");
    Check(HasPortMark(text) == ModelHasMark(text), "\"(COM\" test as the model does");
    Check(EightBitCopy(text).size() <= kPortCopyLimit, "8-bit copy within 258 bytes");
}

void CheckPortList(const std::string& text)
{
    const std::vector<std::string> pieces = SplitLines(text);
    std::vector<std::string> want;
    std::optional<std::string> failure;
    for (const std::string& piece : pieces) {
        if (!piece.empty() && piece[0] == '\x7F') {
            failure = piece.substr(1);
            break;
        }
        if (!(!piece.empty() && piece[0] == '\x01') && ModelHasMark(piece))
            want.push_back(piece);
    }
    std::stable_sort(want.begin(), want.end(), ModelLess);

    char* printed = nullptr;
    std::size_t printedSize = 0;
    std::FILE* out = open_memstream(&printed, &printedSize);
    Check(out != nullptr, "memory stream opens");
    SortedPortList list;
    list.AddString("left over from before");
    PieceSource source(pieces);
    FillPortList(list, source, out);
    std::fclose(out);
    const std::string message(printed, printedSize);
    std::free(printed);

    Check(list.Entries() == want, "list holds the port entries in stable case-blind order");
    if (failure)
        Check(message == "Error ocured: " + CString(*failure), "a broken walk is reported once");
    else
        Check(message.empty(), "a whole walk prints nothing");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckEntryReading(text);
    CheckPortList(text);
    return 0;
}
