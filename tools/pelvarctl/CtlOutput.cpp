#include "tools/pelvarctl/CtlOutput.h"

#include "link/ResultCodes.h"

namespace pelvar {

std::string PrefixLines(const std::string& text, const PortRef& port)
{
    const std::string prefix = port.Text() + ": ";
    std::string prefixed;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        prefixed += prefix + text.substr(start, end - start);
        start = end;
    }
    if (!prefixed.empty() && prefixed.back() != '\n')
        prefixed += '\n';
    return prefixed;
}

CtlOutput::CtlOutput(std::FILE* out, bool json) : m_out(out), m_json(json) {}

CtlOutput::CtlOutput(const PortRef& port, bool json) : m_json(json), m_port(port) {}

void CtlOutput::Line(const std::string& text, bool flush)
{
    if (m_port.kind != PortRef::Kind::None && m_json) {
        m_kept += text + "\n";
        return;
    }
    if (m_port.kind != PortRef::Kind::None) {
        m_kept += PrefixLines(text + "\n", m_port);
        return;
    }
    std::fprintf(m_out, "%s\n", text.c_str());
    if (flush)
        std::fflush(m_out);
}

CtlOutput::~CtlOutput()
{
    if (m_trace)
        std::fclose(m_trace);
}

std::FILE* CtlOutput::TraceSink(std::FILE* err)
{
    if (!m_json)
        return err;
    if (!m_trace)
        m_trace = std::tmpfile();
    return m_trace ? m_trace : err;
}

void CtlOutput::Begin(Verb verb)
{
    m_object = Json::object();
    // A number as a number; a port named otherwise by its name.
    if (m_port.IsNumber())
        m_object["port"] = m_port.number;
    else if (m_port.kind != PortRef::Kind::None)
        m_object["port"] = m_port.name;
    m_object["verb"] = VerbName(verb);
}

void CtlOutput::Result(std::int32_t code)
{
    if (m_json) {
        m_object["result"] = ResultName(code);
        m_object["code"] = code;
        return;
    }
    Line(std::string("result: ") + ResultName(code) + " (" + std::to_string(code) + ")", false);
}

void CtlOutput::Field(const std::string& key, const std::string& text, const Json& value)
{
    if (m_json)
        m_object[key] = value;
    else
        Line(key + ": " + text, false);
}

void CtlOutput::Item(const char* list, const std::string& line, const Json& item)
{
    if (m_json) {
        m_object[list].push_back(item);
        return;
    }
    Line(line, true);
}

void CtlOutput::Set(const std::string& key, const Json& value)
{
    if (m_json)
        m_object[key] = value;
}

// The trace lines written since the last verb ended.
void CtlOutput::TakeFrames()
{
    if (!m_trace)
        return;
    Json frames = Json::array();
    std::fflush(m_trace);
    std::fseek(m_trace, m_traceRead, SEEK_SET);
    char line[1024];
    while (std::fgets(line, sizeof line, m_trace)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        frames.push_back(text);
    }
    std::fseek(m_trace, 0, SEEK_END);
    m_traceRead = std::ftell(m_trace);
    m_object["frames"] = frames;
}

int CtlOutput::End(int status)
{
    if (!m_json)
        return status;
    TakeFrames();
    m_object["exit"] = status;
    Line(m_object.dump(-1, ' ', false, Json::error_handler_t::replace), true);
    m_object = Json::object();
    return status;
}

} // namespace pelvar
