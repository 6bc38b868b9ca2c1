#include "CompanionScript.h"

#include "kyro/platform/filesystem.h"
#include "kyro/platform/process_launch.h"

#include <cstdio>
#include <cstdlib>

namespace kyro::companion {

namespace {

bool parseNumber(const std::string& text, int* value)
{
    if (text.empty() || text.size() > 9)
        return false;
    std::size_t at = text[0] == '-' ? 1 : 0;
    if (at == text.size())
        return false;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9')
            return false;
    }
    *value = std::atoi(text.c_str());
    return true;
}

bool parseFault(const std::string& text, Answer::Fault* fault)
{
    static const struct {
        const char* name;
        Answer::Fault fault;
    } kFaults[] = {{"exit", Answer::ExitAfter},   {"slowExit", Answer::SlowExit},
                   {"cut", Answer::Cut},
                   {"cutEscape", Answer::CutEscape}, {"cutClose", Answer::CutClose},
                   {"garbage", Answer::Garbage},  {"stray", Answer::Stray},
                   {"huge", Answer::Huge},        {"flood", Answer::Flood}};
    for (const auto& known : kFaults) {
        if (text == known.name) {
            *fault = known.fault;
            return true;
        }
    }
    return false;
}

}  // namespace

CompanionScript::CompanionScript()
{
    std::string script;
    // An empty script is no script: a person answers.
    if (platform::environmentVariable("KYRO_VEX_ANSWERS", &script) && !script.empty()) {
        m_scripted = true;
        m_answers = parse(script);
    }
    platform::environmentVariable("KYRO_VEX_REQUEST_LOG", &m_logPath);
}

std::map<std::string, Answer> CompanionScript::parse(const std::string& script)
{
    std::map<std::string, Answer> answers;
    std::size_t start = 0;
    while (start <= script.size()) {
        std::size_t end = script.find(';', start);
        if (end == std::string::npos)
            end = script.size();
        const std::string entry = script.substr(start, end - start);
        start = end + 1;

        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos || equals == 0)
            continue;
        std::string value = entry.substr(equals + 1);
        Answer answer;
        const std::size_t at = value.find('@');
        if (at != std::string::npos) {
            if (!parseNumber(value.substr(at + 1), &answer.delayMs) || answer.delayMs < 0)
                continue;
            value.resize(at);
        }
        // "<answer>+<fault>", or a fault alone, which spoils the default answer.
        const std::size_t plus = value.find('+');
        if (plus != std::string::npos) {
            if (!parseFault(value.substr(plus + 1), &answer.fault))
                continue;
            value.resize(plus);
            if (value.empty())
                continue;
        } else if (value != "exit" && parseFault(value, &answer.fault)) {
            answer.kind = Answer::Default;
            answers[entry.substr(0, equals)] = answer;
            continue;
        }
        if (value == "reply")
            answer.kind = Answer::Reply;
        else if (value == "default")
            answer.kind = Answer::Default;
        else if (value == "none" && answer.fault == Answer::NoFault)
            answer.kind = Answer::None;
        else if (value == "exit" && answer.fault == Answer::NoFault)
            answer.kind = Answer::Exit;
        else if (parseNumber(value, &answer.button))
            answer.kind = Answer::Button;
        else
            continue;
        answers[entry.substr(0, equals)] = answer;
    }
    return answers;
}

Answer CompanionScript::answerFor(const std::string& facility, const std::string& method) const
{
    auto found = m_answers.find(facility + "." + method);
    if (found == m_answers.end())
        found = m_answers.find(method);
    if (found == m_answers.end())
        found = m_answers.find("*");
    if (found != m_answers.end())
        return found->second;
    // A script that does not name the method answers it as if nobody were there.
    Answer answer;
    answer.kind = m_scripted ? Answer::Default : Answer::Person;
    return answer;
}

void CompanionScript::record(const std::string& line) const
{
    if (m_logPath.empty())
        return;
    std::FILE* file = platform::openFile(m_logPath.c_str(), "ab");
    if (file == nullptr)
        return;
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
    std::fclose(file);
}

}  // namespace kyro::companion
