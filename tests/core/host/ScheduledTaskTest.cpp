#include "core/host/ScheduledTask.h"

#include "core/host/HostControl.h"

#include "core/Module.h"
#include "core/Text.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <oleauto.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace
{

using Pd::Host::TaskXml;

// The task definition as an XML reader sees it: the text of each element and the value of each
// attribute, by path ("Task/Actions/Exec/Command", "Task/Principals/Principal@id").
struct ParsedXml
{
    bool wellFormed = false;
    std::map<std::wstring, std::wstring> values;
};

ParsedXml ParseXml(const std::wstring& xml)
{
    ParsedXml parsed;
    using CreateReader = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
    HMODULE dll = ::LoadLibraryExW(L"xmllite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    auto create = dll ? reinterpret_cast<CreateReader>(
                            reinterpret_cast<void*>(::GetProcAddress(dll, "CreateXmlReader")))
                      : nullptr;
    if (create == nullptr)
        return parsed;
    std::vector<BYTE> bytes = {0xFF, 0xFE}; // UTF-16LE, as the declaration says
    auto* raw = reinterpret_cast<const BYTE*>(xml.data());
    bytes.insert(bytes.end(), raw, raw + xml.size() * sizeof(wchar_t));
    Pd::ComPtr<IStream> stream = Pd::ComPtr<IStream>::Attach(::SHCreateMemStream(bytes.data(), bytes.size()));
    Pd::ComPtr<IXmlReader> reader;
    if (!stream || FAILED(create(__uuidof(IXmlReader), reader.PutVoid(), nullptr)) ||
        FAILED(reader->SetInput(stream.Get())))
        return parsed;

    std::vector<std::wstring> path;
    auto joined = [&] {
        std::wstring text;
        for (const std::wstring& part : path)
            text += (text.empty() ? L"" : L"/") + part;
        return text;
    };
    XmlNodeType node;
    HRESULT hr;
    while ((hr = reader->Read(&node)) == S_OK)
    {
        const wchar_t* name = nullptr;
        const wchar_t* value = nullptr;
        if (node == XmlNodeType_Element)
        {
            reader->GetLocalName(&name, nullptr);
            bool empty = reader->IsEmptyElement();
            path.push_back(name);
            parsed.values[joined()]; // present, even when empty
            for (HRESULT more = reader->MoveToFirstAttribute(); more == S_OK;
                 more = reader->MoveToNextAttribute())
            {
                reader->GetLocalName(&name, nullptr);
                reader->GetValue(&value, nullptr);
                parsed.values[joined() + L"@" + name] = value;
            }
            reader->MoveToElement();
            if (empty)
                path.pop_back();
        }
        else if (node == XmlNodeType_EndElement)
            path.pop_back();
        else if (node == XmlNodeType_Text)
        {
            reader->GetValue(&value, nullptr);
            parsed.values[joined()] += value;
        }
    }
    parsed.wellFormed = hr == S_FALSE && path.empty();
    return parsed;
}

TEST(TaskXml, StartsTheHostAtTheUsersLogonWithHighestRights)
{
    ParsedXml xml = ParseXml(TaskXml(L"PC\\ann", L"C:\\Program Files\\Peldra\\Peldra.exe"));
    ASSERT_TRUE(xml.wellFormed);
    const std::pair<const wchar_t*, const wchar_t*> expected[] = {
        {L"Task@version", L"1.4"},
        {L"Task@xmlns", L"http://schemas.microsoft.com/windows/2004/02/mit/task"},
        {L"Task/Triggers/LogonTrigger/Enabled", L"true"},
        {L"Task/Triggers/LogonTrigger/UserId", L"PC\\ann"},
        {L"Task/Principals/Principal@id", L"Author"},
        {L"Task/Principals/Principal/UserId", L"PC\\ann"},
        {L"Task/Principals/Principal/LogonType", L"InteractiveToken"},
        {L"Task/Principals/Principal/RunLevel", L"HighestAvailable"},
        {L"Task/Settings/MultipleInstancesPolicy", L"IgnoreNew"},
        {L"Task/Settings/DisallowStartIfOnBatteries", L"false"},
        {L"Task/Settings/StopIfGoingOnBatteries", L"false"},
        {L"Task/Settings/ExecutionTimeLimit", L"PT0S"},
        {L"Task/Settings/AllowStartOnDemand", L"true"},
        {L"Task/Settings/Priority", L"7"},
        {L"Task/Actions@Context", L"Author"},
        {L"Task/Actions/Exec/Command", L"\"C:\\Program Files\\Peldra\\Peldra.exe\""},
        {L"Task/Actions/Exec/Arguments", L"host --background"},
    };
    for (const auto& [path, value] : expected)
        EXPECT_EQ(xml.values[path], value) << path;
}

TEST(TaskXml, MarkupInTheUserOrPathIsEscapedSoTheDefinitionStaysIntact)
{
    const std::wstring user = L"PC\\A&B <\"x\"> O'Neil &amp;";
    const std::wstring path = L"C:\\Tools & <Games>\\\"Peldra's\".exe";
    std::wstring text = TaskXml(user, path);
    EXPECT_NE(text.find(L"<UserId>PC\\A&amp;B &lt;&quot;x&quot;&gt; O'Neil &amp;amp;</UserId>"),
              std::wstring::npos);
    ParsedXml xml = ParseXml(text);
    ASSERT_TRUE(xml.wellFormed);
    EXPECT_EQ(xml.values[L"Task/Triggers/LogonTrigger/UserId"], user);
    EXPECT_EQ(xml.values[L"Task/Principals/Principal/UserId"], user);
    EXPECT_EQ(xml.values[L"Task/Actions/Exec/Command"], L"\"" + path + L"\"");

    xml = ParseXml(TaskXml(L"", L"C:\\Peldra.exe")); // an unknown user leaves the user ids empty
    ASSERT_TRUE(xml.wellFormed);
    EXPECT_TRUE(xml.values.contains(L"Task/Principals/Principal/UserId"));
    EXPECT_EQ(xml.values[L"Task/Principals/Principal/UserId"], L"");
    EXPECT_EQ(xml.values[L"Task/Triggers/LogonTrigger/UserId"], L"");
}

// The task scheduler under Wine keeps a registered task but not its trigger, run level or action;
// what can be checked here is that the task comes and goes.
class ScheduledTask : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override
    {
        static_cast<void>(Pd::Host::SetTaskRegistered(false));
        ::CoUninitialize();
    }

    static bool OlderTaskExists()
    {
        auto root = Pd::Host::ConnectTaskService();
        Pd::ComPtr<IRegisteredTask> task;
        Pd::UniqueBstr name(::SysAllocString(L"Peldra Bluetooth"));
        return root && SUCCEEDED((*root)->GetTask(name.Get(), task.Put()));
    }
};

TEST_F(ScheduledTask, RegistersOnlyTheInstalledCopyAndUpdatesAndRemovesTheTask)
{
    const std::filesystem::path installed = Pd::Host::InstalledHostExePath();
    std::error_code ignored;
    std::filesystem::remove(installed, ignored);
    auto refused = Pd::Host::SetTaskRegistered(true);
    ASSERT_FALSE(refused) << "the running copy is not the installed one";
    EXPECT_EQ(refused.error(),
              Pd::Core::FormatText(Pd::TextId::StartWithWindowsCopyMissing, installed.wstring()));
    EXPECT_FALSE(Pd::Host::IsTaskRegistered());

    std::filesystem::create_directories(installed.parent_path());
    ASSERT_TRUE(std::filesystem::copy_file(Pd::Core::ModulePath(), installed));
    ASSERT_TRUE(Pd::Host::SetTaskRegistered(true));
    EXPECT_TRUE(Pd::Host::IsTaskRegistered());
    EXPECT_TRUE(Pd::Host::SetTaskRegistered(true)) << "a second registration updates the task";
    EXPECT_TRUE(Pd::Host::IsTaskRegistered());
    EXPECT_TRUE(Pd::Host::SetTaskRegistered(false));
    EXPECT_FALSE(Pd::Host::IsTaskRegistered());
    EXPECT_TRUE(Pd::Host::SetTaskRegistered(false)) << "removing a missing task succeeds";
    std::filesystem::remove(installed);
}

TEST_F(ScheduledTask, EveryChangeDeletesTheOlderTask)
{
    auto root = Pd::Host::ConnectTaskService();
    ASSERT_TRUE(root);
    Pd::UniqueBstr name(::SysAllocString(L"Peldra Bluetooth"));
    Pd::UniqueBstr xml(
        ::SysAllocString(TaskXml(Pd::Host::CurrentSamUserName(), Pd::Host::InstalledHostExePath()).c_str()));
    VARIANT empty;
    ::VariantInit(&empty);
    Pd::ComPtr<IRegisteredTask> older;
    HRESULT hr = (*root)->RegisterTask(name.Get(), xml.Get(), TASK_CREATE_OR_UPDATE, empty, empty,
                                       TASK_LOGON_INTERACTIVE_TOKEN, empty, older.Put());
    ASSERT_TRUE(SUCCEEDED(hr));
    ASSERT_TRUE(OlderTaskExists());
    EXPECT_TRUE(Pd::Host::SetTaskRegistered(false));
    EXPECT_FALSE(OlderTaskExists());
}

} // namespace
