// The helpers that ask Windows about the process: its path, its rights, folders, error texts, the
// host-changed signal and the programs it starts.
#include "core/ChildEnvironment.h"
#include "core/Elevation.h"
#include "core/ErrorText.h"
#include "core/Module.h"
#include "core/Paths.h"
#include "core/StartProgram.h"
#include "core/Strings.h"

#include "core/Handles.h"

#include "ScratchFolder.h"
#include "tests/support/HangLimit.h"
#include "tests/support/ProbeProgram.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

namespace
{

using namespace Pd::Core;

TEST(Process, ModuleIsThisExeAndWineRunsItElevated)
{
    std::filesystem::path path = ModulePath();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_EQ(path.filename(), L"pd_core_tests.exe");
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ModuleHandle(), ::GetModuleHandleW(nullptr));
    EXPECT_TRUE(IsElevated());
    EXPECT_TRUE(MayBeElevated());
    // A token that cannot be asked is of unknown elevation, which IsElevated refuses and
    // MayBeElevated takes as elevated.
    EXPECT_EQ(ElevationOf(nullptr), Elevation::Unknown);
    Pd::UniqueHandle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()));
    EXPECT_EQ(ElevationOf(token.Get()), Elevation::Elevated);
}

TEST(NormalizeFolder, ResolvesDotsSeparatorsAndRelativePathsAndKeepsShares)
{
    EXPECT_EQ(NormalizeFolder(L"C:\\a\\b\\..\\c\\"), L"C:\\a\\c");
    EXPECT_EQ(NormalizeFolder(L"C:/a/./b//"), L"C:\\a\\b");
    EXPECT_EQ(NormalizeFolder(L"C:\\"), L"C:\\");
    EXPECT_EQ(NormalizeFolder(L"C:\\a\\.."), L"C:\\");
    EXPECT_EQ(NormalizeFolder(L""), L"");
    EXPECT_EQ(NormalizeFolder(L"//server/share/a/../b/"), L"\\\\server\\share\\b");
    std::filesystem::path current = std::filesystem::current_path() / L"sub";
    EXPECT_EQ(NormalizeFolder(L"sub\\"), current.wstring());
}

TEST(ShellExecuteUnelevated, StartsAProgramThroughTheDesktopShell)
{
    EXPECT_FALSE(ShellExecuteUnelevated(nullptr));
    // Wine's desktop (explorer.exe) serves the shell's window list, so the request goes through.
    PdTest::ScratchFolder folder;
    auto script = folder.Write(L"mark.cmd", "@cd> \"%~dp0folder.txt\"\r\n@echo %1> \"%~dp0started.txt\"\r\n");
    const auto elsewhere = folder.Path() / L"elsewhere";
    std::filesystem::create_directories(elsewhere);
    ASSERT_TRUE(ShellExecuteUnelevated(script.c_str(), L"/shutdown", elsewhere.c_str()));
    auto marker = folder.Path() / L"started.txt";
    const auto firstLine = [](const std::filesystem::path& file) {
        std::string line;
        std::getline(std::ifstream(file), line);
        return line.substr(0, line.find_last_not_of(" \r") + 1);
    };
    // The script writes its folder first, then its arguments in one line.
    ASSERT_TRUE(Pd::Test::PollUntil([&] { return !firstLine(marker).empty(); }));
    EXPECT_EQ(firstLine(marker), "/shutdown") << "its arguments";
    EXPECT_TRUE(
        EqualsIgnoringCase(Pd::Core::FromUtf8(firstLine(folder.Path() / L"folder.txt")), elsewhere.wstring()))
        << "its folder";
}

TEST(ErrorText, NamesTheStepTheMessageAndTheCode)
{
    std::wstring text = ErrorText(L"Opening x", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(std::regex_match(text, std::wregex(LR"(Opening x: [^\r\n]*\S \(code 5\))"))) << text;
    EXPECT_EQ(text.find(L"unknown error"), std::wstring::npos);
    text = ErrorText(L"Step", 0x80070005u); // HRESULTs in hexadecimal
    EXPECT_TRUE(std::regex_match(text, std::wregex(LR"(Step: [^\r\n]*\S \(code 0x80070005\))"))) << text;
    EXPECT_EQ(ErrorText(L"Step", 0x2000ABCDu), L"Step: unknown error (code 536914893)");
    EXPECT_EQ(ErrorText(L"Step", 0xA000ABCDu), L"Step: unknown error (code 0xA000ABCD)");
}

// Wine has no messages for WinHTTP's codes: ours stand in for those a user meets.
TEST(ErrorText, NetworkFailuresAreSaidInWords)
{
    for (std::uint32_t code :
         {12029u, 12007u, 12002u, 12030u, 12157u, 12175u, 12038u, 12037u, 12045u, 12169u, 12044u, 12152u})
    {
        std::wstring text = ErrorText(L"Step", code);
        EXPECT_TRUE(std::regex_match(
            text, std::wregex(LR"(Step: [^\r\n]*\S \(code )" + std::to_wstring(code) + L"\\)")))
            << text;
        EXPECT_EQ(text.find(L"unknown error"), std::wstring::npos) << text;
    }
}

TEST(StartProgram, ChildSeesOnlyTheBlockMadeForItAndStartsInSystem32)
{
    PdTest::ScratchFolder scratch;
    const std::filesystem::path probe = scratch.Path() / L"probe.exe";
    ASSERT_TRUE(PdTest::PlaceProbe(probe));
    wchar_t windows[MAX_PATH] = {}, system[MAX_PATH] = {};
    ASSERT_GT(::GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);

    // What an elevated process gets from the user's profile and HKCU "Environment".
    const std::wstring user = scratch.Path().wstring();
    const std::map<std::wstring, std::wstring> planted{{L"TEMP", user},
                                                       {L"TMP", user},
                                                       {L"PATH", user + L";" + system},
                                                       {L"SystemRoot", user},
                                                       {L"ComSpec", user + L"\\cmd.exe"},
                                                       {L"PD_PLANTED", L"1"},
                                                       {L"__COMPAT_LAYER", L"RunAsInvoker"}};
    std::map<std::wstring, std::optional<std::wstring>> before;
    for (const auto& [name, value] : planted)
    {
        wchar_t old[32768];
        const DWORD length = ::GetEnvironmentVariableW(name.c_str(), old, 32768);
        before[name] = length > 0 && length < 32768 ? std::optional<std::wstring>(old) : std::nullopt;
        ::SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    auto started = StartProgram(probe.wstring(), L"\"" + probe.wstring() + L"\" now", CREATE_NO_WINDOW);
    const auto relative = StartProgram(L"probe.exe", L"probe.exe", CREATE_NO_WINDOW);
    for (const auto& [name, value] : before)
        ::SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    ASSERT_TRUE(started) << started.error();
    ASSERT_EQ(::WaitForSingleObject(started->Get(), 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(::GetExitCodeProcess(started->Get(), &code));
    EXPECT_EQ(code, PdTest::ProbeExitCode);
    ASSERT_FALSE(relative) << "only full paths";
    EXPECT_EQ(relative.error(), static_cast<std::uint32_t>(ERROR_BAD_PATHNAME));

    const auto record = PdTest::ReadProbeRecord(probe);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->commandLine, L"\"" + probe.wstring() + L"\" now");
    EXPECT_TRUE(EqualsIgnoringCase(record->currentFolder, system)) << record->currentFolder;
    std::map<std::wstring, std::wstring> seen;
    for (const std::wstring& variable : record->environment)
    {
        // Names are matched as Windows matches them; "=C:"-style entries start with '='.
        const std::size_t equals = variable.find(L'=', 1);
        seen[ToLower(variable.substr(0, equals))] =
            equals == std::wstring::npos ? L"" : variable.substr(equals + 1);
    }
    const std::wstring windowsFolder = windows;
    EXPECT_EQ(seen[L"systemroot"], windowsFolder);
    EXPECT_EQ(seen[L"windir"], windowsFolder);
    EXPECT_EQ(seen[L"temp"], windowsFolder + L"\\Temp");
    EXPECT_EQ(seen[L"tmp"], windowsFolder + L"\\Temp");
    EXPECT_EQ(seen[L"path"], std::wstring(system));
    EXPECT_EQ(seen[L"comspec"], std::wstring(system) + L"\\cmd.exe");
    auto made = ChildVariables();
    ASSERT_TRUE(made);
    for (const ChildVariable& variable : *made)
        EXPECT_EQ(seen[ToLower(variable.name)], variable.value) << variable.name;
    // Nothing else reaches the child. Wine (unlike Windows) gives every process it starts its own
    // variables, named WINE...: its prefix, loader and user.
    for (const auto& [name, value] : seen)
        if (!name.starts_with(L"wine"))
            EXPECT_TRUE(std::any_of(made->begin(), made->end(),
                                    [&](const ChildVariable& v) { return ToLower(v.name) == name; }))
                << name << L"=" << value;
}

TEST(StartProgram, BlockIsSortedWithoutCaseAndKeepsTheFirstOfANameOnly)
{
    using Pd::Core::Detail::EnvironmentBlock;
    using namespace std::string_literals;
    EXPECT_EQ(EnvironmentBlock({}), L"\0\0"s);
    EXPECT_EQ(EnvironmentBlock({{L"windir", L"W"}, {L"TMP", L"T"}, {L"SystemRoot", L"S"}, {L"tmp", L"user"}}),
              L"SystemRoot=S\0TMP=T\0windir=W\0\0"s);
}

} // namespace
