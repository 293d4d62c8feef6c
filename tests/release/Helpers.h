// Small helpers that several release tests share: digests, shortcuts, registry keys and the
// packages of a simulated PC's scenario.
#pragma once

#include "core/Handles.h"
#include "core/Json.h"
#include "core/Result.h"
#include "core/Sha256.h"
#include "core/Strings.h"
#include "release/base/InstallFolder.h"
#include "release/windows/Packages.h"

#include <windows.h>

#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace PdTest
{

// A SID that names no account on this computer.
inline constexpr const char* Stranger = "S-1-5-21-1111111111-2222222222-3333333333-1001";
inline const std::string StrangerUser = std::string("\"") + Stranger + "\""; // in a "users" list

// The error of a result that should have failed; a text that says so when it did not.
// The install folder a test folder stands for.
inline Pd::Core::InstallFolder InFolder(const std::filesystem::path& folder)
{
    return Pd::Core::InstallFolder::From(folder.wstring());
}

template <typename T> std::wstring ErrorOf(const Pd::Result<T>& result)
{
    return result ? L"(no error)" : result.error();
}

inline std::wstring Sha256Of(std::string_view bytes)
{
    Pd::Sha256 hasher;
    hasher.Update(bytes);
    return hasher.Finish();
}

// A JSON text as it stands inside a JSON string (quotes and backslashes escaped, no quotes).
inline std::string JsonText(const std::wstring& text)
{
    std::wstring quoted;
    Pd::Json::AppendQuoted(text, quoted);
    return Pd::Core::ToUtf8(quoted.substr(1, quoted.size() - 2));
}

// Tovik's package 2.0.0.0 for a scenario's "packages" list; extra members start with a comma.
inline std::string TovikPackage(const std::wstring& location, std::string_view users = R"("current")",
                                std::string_view extra = "")
{
    return R"({"name": "TovikPackage", "publisherId": "tv9kp7a3nqe2r", "version": "2.0.0.0", )"
           R"("installLocation": ")" +
           JsonText(location) + R"(", "users": [)" + std::string(users) + "]" + std::string(extra) + "}";
}

// The scenario member listing the packages (a leading comma, for the end of a scenario).
inline std::string PackagesMember(const std::string& packages)
{
    return R"(, "packages": [)" + packages + "]";
}

// Whether a text is the pattern, or starts with it when the pattern ends with "...".
inline bool Matches(std::wstring_view text, std::wstring_view pattern)
{
    return pattern.ends_with(L"...") ? text.starts_with(pattern.substr(0, pattern.size() - 3))
                                     : text == pattern;
}

// Whether every path exists (or, with `exists` false, none); the failure names the path.
inline void ExpectPaths(std::initializer_list<std::filesystem::path> paths, bool exists = true)
{
    for (const auto& path : paths)
        EXPECT_EQ(std::filesystem::exists(path), exists) << path.string();
}

// A shortcut made and saved by the shell's link object, as Windows and installers make them.
inline void MakeShortcut(const std::filesystem::path& file, const std::wstring& target,
                         const std::wstring& arguments = L"")
{
    std::filesystem::create_directories(file.parent_path());
    Pd::ComPtr<IShellLinkW> link;
    ASSERT_HRESULT_SUCCEEDED(
        ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()));
    ASSERT_HRESULT_SUCCEEDED(link->SetPath(target.c_str()));
    ASSERT_HRESULT_SUCCEEDED(link->SetArguments(arguments.c_str()));
    ASSERT_HRESULT_SUCCEEDED(link.As<IPersistFile>()->Save(file.c_str(), TRUE));
}

// Starts a program by its command line; the process, or none.
inline Pd::UniqueHandle StartProgram(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &started))
        return {};
    Pd::UniqueHandle thread(started.hThread);
    return Pd::UniqueHandle(started.hProcess);
}

// Runs a program, waits up to 2 minutes and returns its exit code (or why it could not start).
inline DWORD RunProgram(const std::wstring& commandLine)
{
    Pd::UniqueHandle process = StartProgram(commandLine);
    if (!process)
        return ::GetLastError();
    ::WaitForSingleObject(process.Get(), 120'000);
    DWORD code = 1;
    ::GetExitCodeProcess(process.Get(), &code);
    return code;
}

// Runs the Wine prefix's own "msiexec <arguments> /qn".
inline DWORD RunMsiexec(const std::wstring& arguments)
{
    return RunProgram(L"msiexec.exe " + arguments + L" /qn");
}

inline bool KeyExists(HKEY root, const std::wstring& key)
{
    Pd::UniqueRegKey handle;
    return ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, handle.Put()) == ERROR_SUCCESS;
}

inline bool ValueExists(HKEY root, const std::wstring& key, const wchar_t* name)
{
    return ::RegGetValueW(root, key.c_str(), name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

} // namespace PdTest
