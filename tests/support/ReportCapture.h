// Collects what the pipe framework reports (or traces) while an object of this class lives.
#ifndef KYRO_TESTS_PIPE_REPORTCAPTURE_H
#define KYRO_TESTS_PIPE_REPORTCAPTURE_H

#include "kyro/pipe/VexMessages.h"

#include <mutex>
#include <string>
#include <vector>

class ReportCapture {
public:
    enum Kind { kError, kTrace };

    explicit ReportCapture(Kind kind = kError) : m_kind(kind)
    {
        kyro::pipe::setMessageObserver(&ReportCapture::observe, this);
    }
    ~ReportCapture() { kyro::pipe::setMessageObserver(nullptr, nullptr); }
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    std::vector<std::string> lines() const
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_lines;
    }

private:
    static void observe(kyro::pipe::MessageKind kind, const TStr& line, void* context)
    {
        auto* self = static_cast<ReportCapture*>(context);
        const bool wanted = (kind == kyro::pipe::MessageKind::Error) == (self->m_kind == kError);
        if (!wanted)
            return;
        std::lock_guard<std::mutex> guard(self->m_mutex);
        self->m_lines.emplace_back(line.utf8());
    }

    Kind m_kind;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

#endif
