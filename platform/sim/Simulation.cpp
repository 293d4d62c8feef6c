#include "platform/sim/Simulation.h"

#include "core/ChildEnvironment.h"
#include "core/Handles.h"
#include "core/Log.h"
#include "core/Strings.h"

#include <windows.h>

#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace Pd::Platform::Sim
{
namespace
{

constexpr std::uint64_t MaxJsonFileBytes = 16 * 1024 * 1024;

std::wstring Describe(const std::filesystem::path& file, const std::wstring& problem)
{
    return file.wstring() + L": " + problem;
}

// Holds an exclusive lock on "state.lock" in the folder while it lives.
class FolderLock
{
public:
    explicit FolderLock(const std::filesystem::path& folder)
        : file_(::CreateFileW((folder / L"state.lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr))
    {
        if (file_)
            locked_ = ::LockFileEx(file_.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &overlapped_) != FALSE;
    }
    ~FolderLock()
    {
        if (locked_)
            ::UnlockFileEx(file_.Get(), 0, 1, 0, &overlapped_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool Held() const { return locked_; }

private:
    UniqueFile file_;
    OVERLAPPED overlapped_{};
    bool locked_ = false;
};

// The programs a simulated run starts (the host after an install, the program a self-update
// starts) simulate the same PC.
[[maybe_unused]] const bool simulationPassedOn = (Core::PassOnToChildren(SimulationVariable), true);

} // namespace

std::optional<std::filesystem::path> ActiveScenarioFolder()
{
    wchar_t buffer[MAX_PATH * 2];
    DWORD length =
        ::GetEnvironmentVariableW(SimulationVariable, buffer, static_cast<DWORD>(std::size(buffer)));
    if (length == 0)
        return std::nullopt;
    if (length < std::size(buffer))
        return std::filesystem::path(std::wstring(buffer, length));
    std::wstring longer(length, L'\0');
    length = ::GetEnvironmentVariableW(SimulationVariable, longer.data(), length);
    if (length == 0 || length >= longer.size())
        return std::nullopt;
    longer.resize(length);
    return std::filesystem::path(longer);
}

std::uint64_t NowMs()
{
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

Pd::Result<Json::Value> ReadJsonFile(const std::filesystem::path& file)
{
    UniqueFile handle(::CreateFileW(file.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle)
        return Pd::Fail(
            Describe(file, L"cannot be opened (error " + std::to_wstring(::GetLastError()) + L")"));
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle.Get(), &size) || static_cast<std::uint64_t>(size.QuadPart) > MaxJsonFileBytes)
        return Pd::Fail(Describe(file, L"is too large or unreadable"));
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(handle.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size()))
        return Pd::Fail(Describe(file, L"cannot be read"));
    std::string_view text = bytes;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    std::wstring wide = Core::FromUtf8(text);
    auto value = Json::Parser(wide).Parse();
    if (!value)
        return Pd::Fail(Describe(file, value.error()));
    return value;
}

Pd::Result<> WriteJsonFile(const std::filesystem::path& file, const Json::Value& value)
{
    std::wstring text;
    Json::Write(value, 0, text);
    text += L"\n";
    std::string bytes = Core::ToUtf8(text);
    std::filesystem::path temporary = file;
    temporary += L".new";
    {
        UniqueFile handle(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!handle ||
            !::WriteFile(handle.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size())
            return Pd::Fail(Describe(temporary, L"cannot be written"));
    }
    if (!ReplaceFileWhenUnread(temporary, file))
        return Pd::Fail(
            Describe(file, L"cannot be replaced (error " + std::to_wstring(::GetLastError()) + L")"));
    return {};
}

bool ReplaceFileWhenUnread(const std::filesystem::path& replacement, const std::filesystem::path& file)
{
    constexpr auto Patience = std::chrono::minutes(1);
    const auto until = std::chrono::steady_clock::now() + Patience;
    for (;;)
    {
        if (::MoveFileExW(replacement.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING))
            return true;
        const DWORD error = ::GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
            std::chrono::steady_clock::now() >= until)
        {
            ::SetLastError(error);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

Json::Value StateStore::Read() const
{
    auto state = ReadJsonFile(folder_ / L"state.json");
    if (!state || state->kind != Json::Kind::Object)
        return Json::Value::MakeObject();
    return *state;
}

Pd::Result<> StateStore::Update(const std::function<bool(Json::Value& state)>& change) const
{
    FolderLock lock(folder_);
    if (!lock.Held())
        return Pd::Fail(Describe(folder_ / L"state.lock", L"cannot be locked"));
    Json::Value state = Read();
    if (!change(state))
        return {};
    return WriteJsonFile(folder_ / L"state.json", state);
}

void ReportScenarioProblem(const std::wstring& text)
{
    static std::mutex lock;
    static std::set<std::wstring> reported;
    {
        std::lock_guard guard(lock);
        if (!reported.insert(text).second)
            return;
    }
    Core::Log("simulation: " + Core::ToUtf8(text));
}

} // namespace Pd::Platform::Sim
