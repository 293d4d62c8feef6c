#include "core/Clipboard.h"

#include "core/Handles.h"

#include <cstring>
#include <utility>

namespace Pd::Core
{
namespace
{

constexpr int OpenAttempts = 10;
constexpr DWORD OpenRetryMs = 20;

// Holds the clipboard open for the owner; closed again on the way out.
class OpenedClipboard
{
public:
    explicit OpenedClipboard(HWND owner)
    {
        for (int attempt = 0; attempt < OpenAttempts && !opened_; ++attempt)
            if (!(opened_ = ::OpenClipboard(owner)))
                ::Sleep(OpenRetryMs);
    }
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;
    ~OpenedClipboard() { Close(); }

    bool Opened() const { return opened_; }

    bool Close() { return std::exchange(opened_, false) && ::CloseClipboard(); }

private:
    bool opened_ = false;
};

// Moveable memory holding the text with its terminating zero; none when it cannot be had.
UniqueGlobal TextMemory(std::wstring_view text)
{
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!memory)
        return {};
    auto* target = static_cast<wchar_t*>(::GlobalLock(memory.Get()));
    if (target == nullptr)
        return {};
    std::memcpy(target, text.data(), text.size() * sizeof(wchar_t));
    target[text.size()] = L'\0';
    ::GlobalUnlock(memory.Get());
    return memory;
}

} // namespace

bool CopyToClipboard(HWND owner, std::wstring_view text)
{
    UniqueWindow ownWindow;
    if (owner == nullptr)
    {
        ownWindow.Reset(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                          ::GetModuleHandleW(nullptr), nullptr));
        owner = ownWindow.Get();
        if (owner == nullptr)
            return false;
    }
    UniqueGlobal memory = TextMemory(text);
    OpenedClipboard clipboard(owner);
    if (!memory || !clipboard.Opened() || !::EmptyClipboard())
        return false;
    if (::SetClipboardData(CF_UNICODETEXT, memory.Get()) == nullptr)
        return false;
    static_cast<void>(memory.Release()); // the clipboard's now
    return clipboard.Close();
}

} // namespace Pd::Core
