// TProcess.h first: its note explains why nothing may bring TStr.h in before it.
#include "kyro/pipe/TProcess.h"

#include "kyro/platform/process_launch.h"

#include <cstring>
#include <new>
#include <string>

namespace {

using kyro::platform::PipeEnd;

struct PipeRecord {
    PipeEnd parentEnd = kyro::platform::kNoPipeEnd;
    std::uint32_t kind = 0;   // 0 the child's standard input, 1 its standard output
    char name[16] = {};
};

void setName(PipeRecord* pipe, const char* name)
{
    std::strncpy(pipe->name, name, sizeof(pipe->name) - 1);
    pipe->name[sizeof(pipe->name) - 1] = '\0';
}

}  // namespace

const char* const TProcess::kSquishVariable = "KYRO_USE_SQUISH";

struct TProcess::Record {
    TStr program;
    TStr arguments;
    std::uint32_t processId = 0;
    bool wrapped = false;
    PipeRecord pipes[2];

    ~Record() { closePipes(); }

    void closePipes()
    {
        for (PipeRecord& pipe : pipes) {
            kyro::platform::closePipeEnd(pipe.parentEnd);
            pipe = PipeRecord();
        }
    }
};

TProcess::TProcess() : m_record(nullptr) {}

TProcess::TProcess(const TStr& program, const TStr& arguments) : m_record(nullptr)
{
    std::string squish;
    const bool squished = kyro::platform::environmentVariable(kSquishVariable, &squish);
    makeRecord(program, arguments, squished ? squish.c_str() : nullptr);
}

TProcess::TProcess(const TStr& program, const TStr& arguments, const char* squishProgram)
    : m_record(nullptr)
{
    makeRecord(program, arguments, squishProgram);
}

TProcess::~TProcess()
{
    freeRecord();
}

void TProcess::makeRecord(const TStr& program, const TStr& arguments, const char* squishProgram)
{
    m_record = new (std::nothrow) Record();
    if (m_record == nullptr)
        return;
    if (squishProgram != nullptr) {
        // The requested program becomes the quoted first argument of the wrapper.
        m_record->program = TStr(squishProgram);
        m_record->arguments = TStr("\"") + program + "\" " + arguments;
        m_record->wrapped = true;
    } else {
        m_record->program = program;
        m_record->arguments = arguments;
    }
}

void TProcess::freeRecord()
{
    delete m_record;
    m_record = nullptr;
    // Where the system keeps ended children until someone asks, this is a good moment.
    kyro::platform::releaseEndedChildren();
}

void TProcess::assign(const TProcess& other)
{
    if (other.m_record == nullptr) {
        freeRecord();
        return;
    }
    const std::uint32_t processId = other.m_record->processId;
    freeRecord();
    m_record = new (std::nothrow) Record();
    if (m_record != nullptr)
        m_record->processId = processId;
}

int TProcess::launch()
{
    if (m_record == nullptr)
        return kNoRecord;
    const TStr application = applicationName();
    const TStr line = commandLine();
    kyro::platform::LaunchedProcess launched;
    if (kyro::platform::launchProcess(application.utf8(), line.utf8(), &launched,
                                      kyro::platform::ChildOutput::Discard) !=
        kyro::platform::LaunchResult::Started)
        return kLaunchFailed;

    m_record->processId = launched.processId;
    // The ends of an earlier launch go only now: a failed relaunch leaves them as they were.
    m_record->closePipes();
    m_record->pipes[0].parentEnd = launched.input;
    m_record->pipes[0].kind = 0;
    setName(&m_record->pipes[0], "stdin");
    m_record->pipes[1].parentEnd = launched.output;
    m_record->pipes[1].kind = 1;
    setName(&m_record->pipes[1], "stdout");
    return kStarted;
}

bool TProcess::isWrapped() const
{
    return m_record != nullptr && m_record->wrapped;
}

std::uint32_t TProcess::processId() const
{
    return m_record != nullptr ? m_record->processId : 0;
}

TStr TProcess::program() const
{
    return m_record != nullptr ? m_record->program : TStr();
}

TStr TProcess::arguments() const
{
    return m_record != nullptr ? m_record->arguments : TStr();
}

TStr TProcess::applicationName() const
{
    return program();
}

TStr TProcess::commandLine() const
{
    if (m_record == nullptr)
        return TStr();
    TStr program(m_record->program);
    TStr line = program.cutLast("\\");
    // A first word with a blank in it ("C:/Program Files/Vex.exe", "My Vex.exe") is quoted,
    // or the child would read it as two words and take the second for its first argument.
    if (line.indexOf(' ') >= 0 || line.indexOf('\t') >= 0)
        line = TStr("\"") + line + "\"";
    line.join(m_record->arguments.utf8(), " ");
    return line;
}
