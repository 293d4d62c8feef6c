#include "host/notices/Registration.h"

#include "core/Clipboard.h"
#include "core/ComApartment.h"
#include "core/host/HostChange.h"
#include "core/host/RegistrationRequest.h"
#include "core/host/TrayHooks.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "guest/Vsock.h"
#include "platform/WebPage.h"

#include <fmt/format.h>

#include <cstring>
#include <optional>

namespace Pd::Host
{
namespace
{

constexpr const wchar_t* RegistrationPageAddress = L"https://www.google.com/android/uncertified";
constexpr std::size_t MaxDeviceIdLength = 20;

// Android's answers.
constexpr char AnswerDone = 'O';
constexpr char AnswerShown = 'S';
constexpr char AnswerNoIcon = 'N';

bool ReceiveExactly(SOCKET socket, char* buffer, int size)
{
    for (int received = 0; received < size;)
    {
        int count = ::recv(socket, buffer + received, size - received, 0);
        if (count <= 0)
            return false;
        received += count;
    }
    return true;
}

// One hand-over: the device id, or none for a connection that ended or a malformed message.
std::optional<std::wstring> ReceiveDeviceId(SOCKET socket)
{
    char magic[4];
    if (!ReceiveExactly(socket, magic, 4) || std::memcmp(magic, "RGID", 4) != 0)
        return std::nullopt;
    char length = 0;
    if (!ReceiveExactly(socket, &length, 1))
        return std::nullopt;
    const auto size = static_cast<unsigned char>(length);
    if (size == 0 || size > MaxDeviceIdLength)
        return std::nullopt;
    char digits[MaxDeviceIdLength];
    if (!ReceiveExactly(socket, digits, size))
        return std::nullopt;
    std::wstring id;
    for (std::size_t i = 0; i < size; ++i)
    {
        if (digits[i] < '0' || digits[i] > '9')
            return std::nullopt;
        id += static_cast<wchar_t>(digits[i]);
    }
    return id;
}

std::wstring RegisteredText(std::wstring_view id)
{
    return Core::FromUtf8(fmt::format("{:016X}", RegistrationIdHash(id)));
}

char ChooseAnswer(const std::wstring& id, bool offered)
{
    if (RegistrationAsked.exchange(false) && TryOpenRegistrationPage(nullptr) == RegistrationPage::Opened)
    {
        Core::Log("host: Google Play registration - asked for from Peldra, done now that Android handed over "
                  "the ID");
        return AnswerDone;
    }
    if (Core::ReadUserString(L"GooglePlayRegistered", L"") == RegisteredText(id))
    {
        Core::Log("host: Google Play registration - this installation was registered from Windows before");
        return AnswerDone;
    }
    if (offered)
        return AnswerShown;
    if (CallRegistrationOfferHook())
    {
        {
            std::lock_guard guard(RegistrationLock);
            OfferedDeviceId = id;
        }
        Core::Log("host: Google Play registration - offered in a Windows notification");
        return AnswerShown;
    }
    Core::Log(
        "host: Google Play registration - no notification-area icon, Android shows its own notification");
    return AnswerNoIcon;
}

} // namespace

std::uint64_t RegistrationIdHash(std::wstring_view id)
{
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (wchar_t unit : id)
    {
        hash ^= static_cast<std::uint8_t>(unit & 0xFF);
        hash *= 0x100000001B3ULL;
    }
    return hash;
}

void HandleRegistrationClient(SOCKET socket)
{
    while (std::optional<std::wstring> id = ReceiveDeviceId(socket))
    {
        bool first = false;
        bool offered = false;
        {
            std::lock_guard guard(RegistrationLock);
            first = WaitingDeviceId.empty();
            WaitingDeviceId = *id;
            offered = *id == OfferedDeviceId;
        }
        if (first)
        {
            Core::WriteUserDword(L"GooglePlayIdKnown", 1);
            SignalHostChanged();
        }
        const char answer = ChooseAnswer(*id, offered);
        if (::send(socket, &answer, 1, 0) != 1)
            return;
    }
}

RegistrationPage TryOpenRegistrationPage(HWND owner)
{
    std::wstring id;
    {
        std::lock_guard guard(RegistrationLock);
        id = WaitingDeviceId;
    }
    if (id.empty())
        return RegistrationPage::NoDeviceId;
    const bool copied = Core::CopyToClipboard(owner, id);
    ::AllowSetForegroundWindow(ASFW_ANY);
    if (auto opened = Platform::OpenWebPage(RegistrationPageAddress); !opened)
    {
        // Not recorded as registered: the next hand-over of the id tries again, and the tray may
        // offer it anew.
        RegistrationAsked.store(true);
        Core::Log(
            "host: Google Play registration page could not be opened: " + Core::ToUtf8(opened.error().text) +
            " - the request stays pending until Android hands over the device ID again");
        SignalHostChanged();
        return RegistrationPage::NotOpened;
    }
    Core::WriteUserString(L"GooglePlayRegistered", RegisteredText(id));
    WriteIdCopy(copied ? IdCopy::Copied : IdCopy::NotCopied);
    Core::Log(std::string("host: Google Play registration page opened") +
              (copied ? ", device ID copied" : ", the device ID could not be copied"));
    SignalHostChanged();
    return RegistrationPage::Opened;
}

bool OpenRegistrationPage(HWND owner)
{
    return TryOpenRegistrationPage(owner) != RegistrationPage::NoDeviceId;
}

void HandleRegisterSignal()
{
    Core::ComApartment apartment(Core::Apartment::SingleThreaded);
    if (!OpenRegistrationPage(nullptr))
    {
        RegistrationAsked.store(true);
        Core::Log("host: Google Play registration asked for - done when Android hands over the device ID");
    }
}

void RunRegistration(std::stop_token stop)
{
    Core::ComApartment apartment(Core::Apartment::Multithreaded);
    Guest::ServeVsock(
        Guest::RegistrationServiceId, "Android registration helper",
        [](SOCKET socket, std::stop_token) { HandleRegistrationClient(socket); }, stop);
}

} // namespace Pd::Host
