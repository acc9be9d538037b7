#include "tools/pelvarctl/CtlOutput.h"

#include "link/ResultCodes.h"

namespace pelvar {

CtlOutput::CtlOutput(std::FILE* out, bool json) : m_out(out), m_json(json) {}

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
    m_object["verb"] = VerbName(verb);
}

void CtlOutput::Result(std::int32_t code)
{
    if (m_json) {
        m_object["result"] = ResultName(code);
        m_object["code"] = code;
        return;
    }
    std::fprintf(m_out, "result: %s (%d)\n", ResultName(code), code);
}

void CtlOutput::Field(const std::string& key, const std::string& text, const Json& value)
{
    if (m_json)
        m_object[key] = value;
    else
        std::fprintf(m_out, "%s: %s\n", key.c_str(), text.c_str());
}

void CtlOutput::Item(const char* list, const std::string& line, const Json& item)
{
    if (m_json) {
        m_object[list].push_back(item);
        return;
    }
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
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
    std::fprintf(m_out, "%s\n", m_object.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
    std::fflush(m_out);
    m_object = Json::object();
    return status;
}

} // namespace pelvar
