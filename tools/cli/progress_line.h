#pragma once

#include "workflow/workflow.h"

#include <iostream>
#include <string>

// True when standard error goes to a terminal (one file per platform).
bool StderrIsTerminal();

// The progress text on one updating line of standard error, where someone watches it.
class TProgressLine {
public:
    TProgressLine() : m_shown(StderrIsTerminal()) {}
    ~TProgressLine() { Clear(); }
    TProgressLine(const TProgressLine &) = delete;
    TProgressLine &operator=(const TProgressLine &) = delete;

    TProgress Callback()
    {
        return [this](const TJobProgress &progress) {
            const std::string &text = progress.status;
            if (!m_shown || text.empty())
                return;
            std::cerr << '\r' << text << std::string(m_width > text.size() ? m_width - text.size() : 0, ' ')
                      << std::flush;
            m_width = text.size();
        };
    }

    // Empties the line, before other output goes there.
    void Clear()
    {
        if (m_shown && m_width > 0)
            std::cerr << '\r' << std::string(m_width, ' ') << '\r' << std::flush;
        m_width = 0;
    }

private:
    bool m_shown;
    std::size_t m_width = 0;
};
