// Windows' default Bluetooth adapter through the real adapter, against the test class.
#include "core/Strings.h"
#include "platform/RealServices.h"

#include <gtest/gtest.h>

namespace Pd::Platform
{
namespace
{

TEST(WinRtBluetoothAdapter, DefaultAdapterAnswersItsAddressNoneOrTheFailure)
{
    const struct
    {
        const wchar_t* script;
        const wchar_t* unregistered;
        HRESULT code;
        std::uint64_t address;
    } rows[] = {
        {L"00A0C9112233", nullptr, S_OK, 0x00A0C9112233},
        {L"thread C0FFEE445566", nullptr, S_OK, 0xC0FFEE445566},
        {L"none", nullptr, S_OK, 0},
        {L"error 80070490", nullptr, HRESULT_FROM_WIN32(ERROR_NOT_FOUND), 0},
        {L"start 80070005", nullptr, E_ACCESSDENIED, 0},
        {L"broken", nullptr, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_AVAILABLE), 0},
        {L"00A0C9112233", L"Windows.Devices.Bluetooth.BluetoothAdapter", REGDB_E_CLASSNOTREG, 0},
    };
    for (const auto& row : rows)
    {
        ::SetEnvironmentVariableW(L"PD_TEST_ADAPTER", row.script);
        ::SetEnvironmentVariableW(L"PD_TEST_UNREGISTERED", row.unregistered);
        auto adapter = Real::DefaultBluetoothAdapter();
        const std::string where = Core::ToUtf8(row.script);
        ASSERT_EQ(adapter ? S_OK : adapter.error().code, row.code) << where;
        if (adapter)
            EXPECT_EQ(*adapter, row.address) << where;
        else
            EXPECT_NE(adapter.error().text.find(L"BluetoothAdapter"), std::wstring::npos) << where;
    }
    ::SetEnvironmentVariableW(L"PD_TEST_ADAPTER", nullptr);
    ::SetEnvironmentVariableW(L"PD_TEST_UNREGISTERED", nullptr);
}

} // namespace
} // namespace Pd::Platform
