// The live progress line on a terminal's standard error: one line rewritten in place.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

class CProgressLine
{
public:
    // Shows nothing unless stream is a terminal.
    explicit CProgressLine(std::FILE* stream);
    ~CProgressLine();
    CProgressLine(const CProgressLine&) = delete;
    CProgressLine& operator=(const CProgressLine&) = delete;

    // Replaces the line by text, cut to the terminal's width; at most ten redraws a second
    // unless force is set.
    void Show(const std::string& text, bool force = false);
    // Removes the line, so that ordinary output continues on a clean line.
    void Clear();

    [[nodiscard]] bool Enabled() const { return m_enabled; }

private:
    std::FILE* m_stream;
    bool m_enabled = false;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_last;
};
