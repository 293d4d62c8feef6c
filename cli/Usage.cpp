#include "cli/Usage.h"

#include "core/DefaultInstallFolder.h"

#include "cli/Sources.h"
#include "core/Strings.h"
#include "core/Version.h"

#include <fmt/xchar.h>

#include <array>
#include <vector>

namespace Pd::Cli
{
namespace
{

// Descriptions start after this many characters; a longer command form gets a line of its own.
constexpr std::size_t DescriptionColumn = 23;
constexpr std::size_t LongestInlineForm = 20;

struct Entry
{
    std::wstring_view form;
    std::vector<std::wstring> lines;
};

// The entries of "Commands:", in the order the user reads them.
const Entry CommandEntries[] = {
    {L"status", {L"Windows, Virtual Machine Platform, developer mode, installed Tovik"}},
    {L"check", {L"read the release manifest and show what would be downloaded"}},
    {L"install", {L"download, verify, unpack and register Peldra (administrator)"}},
    {L"uninstall", {L"remove Peldra; Android apps and data stay for the next installation"}},
    {L"uninstall --all",
     {L"remove everything: also Android apps and data, their Start menu entries",
      L"and associations, Peldra's settings; developer mode and Virtual Machine",
      L"Platform are turned off again if Peldra turned them on (administrator)",
      L"Installed with Peldra Setup (Peldra.msi): Windows Installer removes it"}},
    {L"bluetooth", {L"give Android the PC's Bluetooth adapter until Ctrl+C (administrator)"}},
    {L"bluetooth --list-vms", {L"what the Host Compute Service reports (diagnostics)"}},
    {L"hello", {L"bridge Windows Hello (fingerprint/PIN) to Android until Ctrl+C (administrator)"}},
    {L"hello --check", {L"check whether Windows Hello is configured for this Windows account"}},
    {L"hello --test", {L"prompt Windows Hello right now to verify the reader/PIN"}},
    {L"hello remember [off|5|30|lock] [--yes]",
     {L"let Android apps that ask for a fingerprint in without asking again for 5 or",
      L"30 minutes, or until Windows is locked, after one Windows Hello confirmation",
      L"(off by default; locking Windows always ends it; root still asks every time;",
      L"5, 30 and lock: administrator)"}},
    {L"elevation [on|off]",
     {L"root for Android apps: an app runs \"0 [command]\" (root is uid 0) and Windows",
      L"Hello confirms every request on this PC (off by default)"}},
    {L"elevation su on|off", {L"also offer root apps the name they look for, su (a link to 0)"}},
    {L"elevation magisk on|off",
     {L"root through the official Magisk instead, downloaded from the Magisk author's",
      L"GitHub releases and checked, then su for the apps granted in Magisk, Zygisk, modules"}},
    {L"modem",
     {L"the PC's mobile broadband modem as Android sees it: the messages in its",
      L"store and the emulated modem's answers to a few AT lines"}},
    {L"launch", {L"start Android (the Play Store, or Android's Settings)"}},
    {L"settings", {L"open Android's own settings (networks, the SIM, apps, storage)"}},
    {L"register",
     {L"register this PC with Google Play: the background host copies the device",
      L"ID and opens Google's page (Android is started first when it has not", L"handed the ID over yet)"}},
    {L"stop",
     {L"stop Tovik and free its memory, nothing is removed; it starts again",
      L"with the next Android app (administrator)"}},
    {L"verify [folder]", {L"check that the installed Android is an official release, unchanged"}},
    {L"version", {L"print the version"}},
    {L"lng-export <file>", {L"write the English strings (start of a translation)"}},
    {L"lng-check [file]", {L"coverage and placeholder check of language files"}},
    {L"msi stop-hosts | msi uninstall <SID> [--all]",
     {L"used by Peldra Setup (LocalSystem): stop the background host in every",
      L"session; remove Peldra as the user who removes Setup, without a second", L"UAC prompt"}},
};

// The entries of "Options:".
std::vector<Entry> OptionEntries(std::wstring_view defaultInstallFolder)
{
    return {
        {L"--source <s>",
         {L"local (the loopback test server), mirror (the Ormel mirror), github,",
          L"or the URL of a manifest.json"}},
        {L"--dir <folder>",
         {L"install folder; without it, the folder Peldra installed to for you or",
          L"the one chosen with \"Change install folder…\" in the window, else",
          std::wstring(defaultInstallFolder)}},
        {L"--files-only", {L"install: files only, do not touch the Windows registration"}},
        {L"--keep-downloads", {L"install: keep the compressed downloads"}},
        {L"--yes",
         {L"install: accept the questions (a folder holding other files, developer mode,",
          L"Virtual Machine Platform, replacing Tovik from the Microsoft Store); uninstall: confirm"}},
        {L"--no-progress", {L"no progress bar"}},
    };
}

// Writes one entry: two blanks, the form padded to the description column, the description; a
// long form stands alone and its description starts on the next line.
void AppendEntry(std::wstring& text, const Entry& entry)
{
    std::wstring head = L"  ";
    head += entry.form;
    if (entry.form.size() > LongestInlineForm)
    {
        text += head;
        text += L'\n';
        head.clear();
    }
    for (const std::wstring& line : entry.lines)
    {
        head.resize(DescriptionColumn, L' ');
        text += head;
        text += line;
        text += L'\n';
        head.clear();
    }
}

} // namespace

std::wstring UsageText(std::wstring_view defaultInstallFolder)
{
    std::wstring text = fmt::format(L"{0} {1} - Tovik with Android 15\n\n"
                                    L"Usage: {2} <command> [options]   (no command: graphical interface)\n\n"
                                    L"Commands:\n",
                                    L"Peldra", ProgramVersion, L"Peldra.exe");
    for (const Entry& entry : CommandEntries)
        AppendEntry(text, entry);

    text += L"\nOptions:\n";
    for (const Entry& entry : OptionEntries(defaultInstallFolder))
        AppendEntry(text, entry);

    text +=
        L"\nExit codes: 0 ok, 1 failed, 2 usage, 3 unavailable, 4 canceled, 5 restart Windows to finish\n";
    return text;
}

std::wstring UsageText()
{
    return UsageText(Core::DefaultInstallFolder());
}

bool IsHelpWord(std::wstring_view word)
{
    static constexpr std::array<std::wstring_view, 8> HelpWords = {L"help", L"--help", L"-help", L"-h",
                                                                   L"-?",   L"/?",     L"/h",    L"/help"};
    std::wstring lower = Core::ToLower(word);
    for (std::wstring_view help : HelpWords)
        if (lower == help)
            return true;
    return false;
}

} // namespace Pd::Cli
