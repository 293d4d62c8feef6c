// The modal dialog under Wine's null graphics driver: a timer on the UI thread plays the user.
#include "ui/Dialog.h"

#include "tests/support/OwnWindow.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace Pd::Ui
{
namespace
{

std::vector<std::function<void(HWND)>> steps;
std::size_t nextStep = 0;
bool ownerWasDisabled = false;
HWND owner = nullptr;

void CALLBACK PlayStep(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dialog = Pd::Test::FindOwnWindow(DialogClass, nullptr);
    if (!dialog || nextStep >= steps.size())
        return;
    ownerWasDisabled = ownerWasDisabled || (owner && !::IsWindowEnabled(owner));
    steps[nextStep++](dialog);
}

template <typename Show> auto PlayWith(std::vector<std::function<void(HWND)>> played, Show show)
{
    steps = std::move(played);
    nextStep = 0;
    UINT_PTR timer = ::SetTimer(nullptr, 0, 30, PlayStep);
    auto result = show();
    ::KillTimer(nullptr, timer);
    return result;
}

DialogResult Play(const DialogSpec& spec, std::vector<std::function<void(HWND)>> played)
{
    return PlayWith(std::move(played), [&spec] { return ShowDialog(owner, spec); });
}

bool PlayWiderRights(std::vector<std::function<void(HWND)>> played)
{
    return PlayWith(std::move(played),
                    [] { return ConfirmWiderRights(owner, L"Root", L"Root?", L"&Turn on"); });
}

// Played again at the next tick until the dialog takes input.
void UntilEnabled(HWND dialog)
{
    if (!::IsWindowEnabled(dialog))
        --nextStep;
}

void Click(HWND button)
{
    ::PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    ::PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

void Key(HWND target, WPARAM key)
{
    ::PostMessageW(target, WM_KEYDOWN, key, 0);
}

// Where a key pressed in the dialog goes: its focus, or its first control while another program's
// window on the shared desktop is the active one.
HWND Focused(HWND dialog)
{
    HWND focus = ::GetFocus();
    return focus && (focus == dialog || ::IsChild(dialog, focus))
               ? focus
               : ::GetNextDlgTabItem(dialog, nullptr, FALSE);
}

void Type(HWND dialog, int id, const wchar_t* text)
{
    ::SetWindowTextW(::GetDlgItem(dialog, id), text);
}

class Dialogs : public testing::Test
{
protected:
    void SetUp() override
    {
        owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300, nullptr,
                                  nullptr, nullptr, nullptr);
        ASSERT_NE(owner, nullptr);
        ownerWasDisabled = false;
    }
    void TearDown() override { ::DestroyWindow(owner); }
};

TEST_F(Dialogs, AValidatorKeepsTheDialogOpenUntilTheInputIsRight)
{
    DialogSpec spec;
    spec.title = L"Custom manifest";
    spec.fields = {{L"Address", L"", L"", nullptr}};
    int calls = 0;
    spec.validator = [&calls](const std::vector<std::wstring>& values) -> std::optional<std::wstring> {
        ++calls;
        if (values[0].empty())
            return L"Enter an address.";
        return std::nullopt;
    };
    auto result = Play(spec, {
                                 [](HWND d) { ::PostMessageW(d, WM_COMMAND, 1, 0); },
                                 [](HWND d) { Type(d, 100, L"  \"C:\\x y\\m.json\" "); },
                                 [](HWND d) { ::PostMessageW(d, WM_COMMAND, 1, 0); },
                             });
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(result.button, 1);
    ASSERT_EQ(result.values.size(), 1u);
    EXPECT_EQ(result.values[0], L"C:\\x y\\m.json");
    EXPECT_TRUE(ownerWasDisabled);
    EXPECT_TRUE(::IsWindowEnabled(owner));
}

TEST_F(Dialogs, EscapeAndCloseCancelOnlyWhenThereIsACancelButton)
{
    DialogSpec spec;
    spec.title = L"Question";
    EXPECT_EQ(Play(spec, {[](HWND d) { Key(Focused(d), VK_ESCAPE); }}).button, 0);
    EXPECT_EQ(Play(spec, {[](HWND d) { ::PostMessageW(d, WM_CLOSE, 0, 0); }}).button, 0);
    spec.cancelShown = false;
    EXPECT_EQ(Play(spec, {[](HWND d) { ::PostMessageW(d, WM_CLOSE, 0, 0); }}).button, 1);
    EXPECT_EQ(Play(spec, {[](HWND d) { Key(Focused(d), VK_ESCAPE); }}).button, 1);
}

TEST_F(Dialogs, TheThirdButtonCarriesTheValuesAndEnterIsOk)
{
    DialogSpec spec;
    spec.fields = {{L"Folder", L"C:\\Tovik", L"", nullptr}};
    spec.thirdText = L"Reset";
    auto third = Play(spec, {[](HWND d) { ::PostMessageW(d, WM_COMMAND, 3, 0); }});
    EXPECT_EQ(third.button, 2);
    ASSERT_EQ(third.values.size(), 1u);
    EXPECT_EQ(third.values[0], L"C:\\Tovik");
    auto enter = Play(spec, {[](HWND d) { Key(::GetDlgItem(d, 100), VK_RETURN); }});
    EXPECT_EQ(enter.button, 1);
}

// A question that widens rights drops what comes in its first moments and says Cancel to Enter;
// OK has no access key, and takes a click, or Tab to it and Enter.
TEST_F(Dialogs, AWiderRightsQuestionTakesNoEarlyInputAndEnterIsCancel)
{
    bool heldAtFirst = false;
    wchar_t okText[16]{};
    EXPECT_FALSE(PlayWiderRights({[&](HWND d) {
                                      heldAtFirst = !::IsWindowEnabled(d);
                                      ::GetWindowTextW(::GetDlgItem(d, 1), okText, 16);
                                      Click(::GetDlgItem(d, 1));
                                  },
                                  UntilEnabled, [](HWND d) { Key(Focused(d), VK_RETURN); }}))
        << "an early click or Enter said OK";
    EXPECT_TRUE(heldAtFirst);
    EXPECT_EQ(std::wstring(okText), L"Turn on");
    EXPECT_TRUE(PlayWiderRights({UntilEnabled, [](HWND d) { Click(::GetDlgItem(d, 1)); }}));
    EXPECT_TRUE(PlayWiderRights({UntilEnabled, [](HWND d) {
                                     ::SetFocus(::GetDlgItem(d, 1));
                                     Key(::GetDlgItem(d, 1), VK_RETURN);
                                 }}));
}

TEST_F(Dialogs, AQuitDuringTheDialogCancelsItAndReachesTheOuterLoop)
{
    DialogSpec spec;
    auto result = Play(spec, {[](HWND) { ::PostQuitMessage(7); }});
    EXPECT_EQ(result.button, 0);
    EXPECT_TRUE(result.values.empty());
    MSG message{};
    ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
}

} // namespace
} // namespace Pd::Ui
