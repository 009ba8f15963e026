// The texts of a find, its folder path and its name, in a few bytes each: a search keeps two
// per find, for millions of finds. A text that fits is kept in place (15 bytes in an ItemText,
// 23 in an ItemName: most names on a disk); a longer one is kept once on the heap and shared by
// its copies, so the finds of one folder share one path.
#pragma once

#include <array>
#include <atomic>
#include <compare>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/Types.h"

template <std::size_t Bytes> class BasicItemText
{
    static_assert(Bytes >= 16 && Bytes <= 256 && Bytes % 8 == 0);

public:
    // The members std::string's callers know keep its names and meaning.
    // NOLINTBEGIN(readability-identifier-naming)
    static constexpr std::size_t npos = std::string_view::npos;

    BasicItemText() noexcept { MakeEmpty(); }
    // Implicit, as from and to std::string: a find's texts are filled and read as strings.
    BasicItemText(std::string_view text) { Set(text); }
    BasicItemText(const char* text) : BasicItemText(std::string_view(text)) {}
    BasicItemText(const std::string& text) : BasicItemText(std::string_view(text)) {}
    template <std::size_t Other>
    BasicItemText(const BasicItemText<Other>& text) : BasicItemText(text.view())
    {
    }
    BasicItemText(const BasicItemText& other) noexcept
    {
        std::memcpy(m_bytes, other.m_bytes, sizeof m_bytes);
        if (IsShared())
            Refs().fetch_add(1, std::memory_order_relaxed);
    }
    BasicItemText(BasicItemText&& other) noexcept
    {
        std::memcpy(m_bytes, other.m_bytes, sizeof m_bytes);
        other.MakeEmpty();
    }
    ~BasicItemText() { Release(); }

    BasicItemText& operator=(const BasicItemText& other) noexcept
    {
        if (this != &other)
        {
            BasicItemText copy(other);
            Swap(copy);
        }
        return *this;
    }
    BasicItemText& operator=(BasicItemText&& other) noexcept
    {
        BasicItemText moved(std::move(other));
        Swap(moved);
        return *this;
    }
    BasicItemText& operator=(std::string_view text)
    {
        BasicItemText copy(text);
        Swap(copy);
        return *this;
    }
    BasicItemText& operator=(const char* text) { return *this = std::string_view(text); }
    BasicItemText& operator=(const std::string& text) { return *this = std::string_view(text); }

    [[nodiscard]] std::size_t size() const noexcept
    {
        if (IsShared())
        {
            u32 size = 0;
            std::memcpy(&size, m_bytes + sizeof(char*), sizeof size);
            return size;
        }
        return kSmallMax - static_cast<u8>(m_bytes[kTag]);
    }
    [[nodiscard]] bool empty() const noexcept { return size() == 0; }
    [[nodiscard]] const char* data() const noexcept
    {
        return IsShared() ? Block() + kHeader : m_bytes;
    }
    [[nodiscard]] const char* c_str() const noexcept { return data(); }
    [[nodiscard]] std::string_view view() const noexcept { return {data(), size()}; }
    [[nodiscard]] std::string str() const { return std::string(view()); }
    operator std::string_view() const noexcept { return view(); }
    [[nodiscard]] const char* begin() const noexcept { return data(); }
    [[nodiscard]] const char* end() const noexcept { return data() + size(); }
    [[nodiscard]] char operator[](std::size_t i) const noexcept { return data()[i]; }
    [[nodiscard]] char back() const noexcept { return data()[size() - 1]; }

    [[nodiscard]] std::size_t find(char c, std::size_t from = 0) const noexcept
    {
        return view().find(c, from);
    }
    [[nodiscard]] std::size_t find(std::string_view text, std::size_t from = 0) const noexcept
    {
        return view().find(text, from);
    }
    [[nodiscard]] std::size_t rfind(char c, std::size_t from = npos) const noexcept
    {
        return view().rfind(c, from);
    }
    [[nodiscard]] std::string substr(std::size_t from, std::size_t count = npos) const
    {
        return std::string(view().substr(from, count));
    }
    [[nodiscard]] int compare(std::size_t from, std::size_t count, std::string_view other) const
    {
        return view().compare(from, count, other);
    }
    [[nodiscard]] bool starts_with(std::string_view prefix) const noexcept
    {
        return view().starts_with(prefix);
    }
    [[nodiscard]] bool ends_with(std::string_view suffix) const noexcept
    {
        return view().ends_with(suffix);
    }

    // Appending makes a text of its own: the one shared with others stays as it was.
    BasicItemText& operator+=(std::string_view more)
    {
        std::string joined(view());
        joined += more;
        return *this = std::string_view(joined);
    }
    BasicItemText& operator+=(char c) { return *this += std::string_view(&c, 1); }
    void clear() noexcept
    {
        Release();
        MakeEmpty();
    }
    // NOLINTEND(readability-identifier-naming)

    void Swap(BasicItemText& other) noexcept
    {
        char tmp[sizeof m_bytes];
        std::memcpy(tmp, m_bytes, sizeof m_bytes);
        std::memcpy(m_bytes, other.m_bytes, sizeof m_bytes);
        std::memcpy(other.m_bytes, tmp, sizeof m_bytes);
    }

    friend bool operator==(const BasicItemText& a, std::string_view b) noexcept
    {
        return a.view() == b;
    }
    friend std::strong_ordering operator<=>(const BasicItemText& a, std::string_view b) noexcept
    {
        return a.view() <=> b;
    }
    friend std::ostream& operator<<(std::ostream& out, const BasicItemText& text)
    {
        return out << text.view();
    }
    friend std::string operator+(const BasicItemText& a, std::string_view b)
    {
        std::string out;
        out.reserve(a.size() + b.size());
        out.append(a.view()).append(b);
        return out;
    }
    friend std::string operator+(const BasicItemText& a, const char* b)
    {
        return a + std::string_view(b);
    }
    friend std::string operator+(const BasicItemText& a, char b)
    {
        return a + std::string_view(&b, 1);
    }
    friend std::string operator+(std::string_view a, const BasicItemText& b)
    {
        std::string out;
        out.reserve(a.size() + b.size());
        out.append(a).append(b.view());
        return out;
    }
    friend std::string operator+(const char* a, const BasicItemText& b)
    {
        return std::string_view(a) + b;
    }
    friend std::string operator+(std::string&& a, const BasicItemText& b)
    {
        a.append(b.view());
        return std::move(a);
    }

private:
    // The last byte tells the forms apart: in place, kSmallMax less the size (so a text of
    // kSmallMax bytes ends in its own terminating zero); on the heap, kSharedTag.
    static constexpr std::size_t kTag = Bytes - 1;
    static constexpr std::size_t kSmallMax = Bytes - 1;

    // The empty text, written whole: set byte by byte, a text that is copied or moved right
    // after (a fresh record's name, a find built and moved into its list) was read back in
    // wider loads than it was stored in, which the processor cannot forward from its stores
    // and waits for, once per record of a search.
    static constexpr std::array<char, Bytes> kEmpty = []
    {
        std::array<char, Bytes> bytes{};
        bytes[kTag] = static_cast<char>(kSmallMax);
        return bytes;
    }();
    void MakeEmpty() noexcept { std::memcpy(m_bytes, kEmpty.data(), sizeof m_bytes); }
    static constexpr u8 kSharedTag = 0xFF;
    // A heap block: the count of texts sharing it, then the bytes and a zero. (The size is
    // kept in the text itself: a name of 17 to 19 bytes then takes the heap's 32-byte block.)
    static constexpr std::size_t kHeader = sizeof(u32);

    [[nodiscard]] bool IsShared() const noexcept
    {
        return static_cast<u8>(m_bytes[kTag]) == kSharedTag;
    }
    [[nodiscard]] char* Block() const noexcept
    {
        char* block = nullptr;
        std::memcpy(&block, m_bytes, sizeof block);
        return block;
    }
    [[nodiscard]] std::atomic<u32>& Refs() const noexcept
    {
        return *std::launder(reinterpret_cast<std::atomic<u32>*>(Block()));
    }

    void Set(std::string_view text)
    {
        if (text.size() <= kSmallMax)
        {
            std::memcpy(m_bytes, text.data(), text.size());
            m_bytes[text.size()] = '\0';
            m_bytes[kTag] = static_cast<char>(kSmallMax - text.size());
            return;
        }
        if (text.size() > 0xFFFFFFFFu - kHeader - 1)
            throw std::bad_alloc();
        char* block = static_cast<char*>(std::malloc(kHeader + text.size() + 1));
        if (block == nullptr)
            throw std::bad_alloc();
        new (block) std::atomic<u32>(1);
        std::memcpy(block + kHeader, text.data(), text.size());
        block[kHeader + text.size()] = '\0';
        const u32 size = static_cast<u32>(text.size());
        std::memcpy(m_bytes, &block, sizeof block);
        std::memcpy(m_bytes + sizeof block, &size, sizeof size);
        m_bytes[kTag] = static_cast<char>(kSharedTag);
    }

    void Release() noexcept
    {
        if (IsShared() && Refs().fetch_sub(1, std::memory_order_acq_rel) == 1)
        {
            Refs().~atomic();
            std::free(Block());
        }
    }

    alignas(8) char m_bytes[Bytes];
};

// A name compared with a path, as texts.
template <std::size_t A, std::size_t B>
requires(A != B) bool operator==(const BasicItemText<A>& a, const BasicItemText<B>& b) noexcept
{
    return a.view() == b.view();
}

// A folder path: most are longer than a name and shared by the finds of the folder.
using ItemText = BasicItemText<16>;
// An item's own name, in place up to 23 bytes.
using ItemName = BasicItemText<24>;
static_assert(sizeof(ItemText) == 16 && sizeof(ItemName) == 24);
