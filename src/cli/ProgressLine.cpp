// The live progress line on a terminal's standard error.
#include "cli/ProgressLine.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace
{
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::size_t TerminalWidth(int fd)
{
    struct winsize size = {};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        return size.ws_col;
    return 80;
}

// Cuts text to at most width display cells, counting one per UTF-8 lead byte and never
// cutting a character in two; control characters become '?'.
std::string FitToWidth(const std::string& text, std::size_t width)
{
    std::string out;
    std::size_t cells = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool continuation = (c & 0xC0) == 0x80;
        if (!continuation)
        {
            if (cells == width)
                break;
            ++cells;
        }
        out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
    return out;
}
} // namespace

CProgressLine::CProgressLine(std::FILE* stream) : m_stream(stream)
{
    m_enabled = stream != nullptr && isatty(fileno(stream)) == 1;
}

CProgressLine::~CProgressLine()
{
    Clear();
}

void CProgressLine::Show(const std::string& text, bool force)
{
    if (!m_enabled)
        return;
    auto now = std::chrono::steady_clock::now();
    if (!force && m_shown && now - m_last < kRedrawInterval)
        return;
    m_last = now;
    std::string line = FitToWidth(text, TerminalWidth(fileno(m_stream)) - 1);
    std::fprintf(m_stream, "\r\x1b[K%s", line.c_str());
    std::fflush(m_stream);
    m_shown = true;
}

void CProgressLine::Clear()
{
    if (!m_enabled || !m_shown)
        return;
    std::fputs("\r\x1b[K", m_stream);
    std::fflush(m_stream);
    m_shown = false;
}
