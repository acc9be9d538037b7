// What a verb reports, as `key: value` lines (the default) or as one JSON
// object per verb (--json) with the same facts. One board of several
// keeps its report until the boards are printed in port order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "camera/RegisterMap.h"
#include "tools/pelvarctl/CtlParse.h"

namespace pelvar {

// Each line of `text` after "COMn: ", the last one ended.
std::string PrefixLines(const std::string& text, const PortRef& port);

class CtlOutput {
public:
    using Json = nlohmann::ordered_json;

    CtlOutput(std::FILE* out, bool json);
    // One board of several: kept in memory, each line after "COMn: ", each
    // JSON object with "port" first.
    CtlOutput(const PortRef& port, bool json);
    ~CtlOutput();
    CtlOutput(const CtlOutput&) = delete;
    CtlOutput& operator=(const CtlOutput&) = delete;

    bool IsJson() const { return m_json; }
    // Where --trace goes: `err` for text; for JSON a private file whose lines
    // become the verb's "frames".
    std::FILE* TraceSink(std::FILE* err);

    void Begin(Verb verb);
    // "result: LINK_OK (0)"; JSON "result" and "code".
    void Result(std::int32_t code);
    // "key: text"; JSON key with `value`.
    void Field(const std::string& key, const std::string& text, const Json& value);
    void Field(const std::string& key, const std::string& text) { Field(key, text, text); }
    // One line of a list (a dump, a watch, the diagnosis); JSON: `item` appended to `list`.
    void Item(const char* list, const std::string& line, const Json& item);
    // JSON only.
    void Set(const std::string& key, const Json& value);
    // Ends the verb; returns `status`.
    int End(int status);
    // What a board of several has reported.
    const std::string& Kept() const { return m_kept; }

private:
    void TakeFrames();
    void Line(const std::string& text, bool flush);

    std::FILE* m_out = nullptr;
    bool m_json;
    PortRef m_port; // a board of several; none: straight to m_out
    std::string m_kept;
    Json m_object;
    std::FILE* m_trace = nullptr;
    long m_traceRead = 0;
};

} // namespace pelvar
