// The one modal dialog of the interface: title, message, input fields, a details box, an error
// line and a button bar, run with its own message loop while the owner is disabled.
#pragma once

#include <windows.h>

#include <shtypes.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Ui
{

struct DialogField
{
    std::wstring label;
    std::wstring value;
    std::wstring placeholder;
    // File types for the browse button, ending with an entry without a name; null = no button.
    const COMDLG_FILTERSPEC* filter = nullptr;
};

struct DialogSpec
{
    std::wstring title;
    std::wstring text;
    std::wstring details;
    std::vector<DialogField> fields;
    std::wstring okText;
    std::wstring cancelText;
    bool cancelShown = true;
    std::wstring thirdText;
    int style = 0;
    int width = 460;
    // For a question that widens rights: Cancel is the default, OK has no access key, and the
    // dialog takes no input in its first HoldInputMs, so that a key or click meant for another
    // window cannot answer it.
    bool cautious = false;
    std::function<std::optional<std::wstring>(const std::vector<std::wstring>&)> validator;
};

struct DialogResult
{
    int button = 0; // 0 cancelled, 1 OK, 2 third button
    std::vector<std::wstring> values;
};

inline constexpr const wchar_t* DialogClass = L"Peldra.Dialog";

DialogResult ShowDialog(HWND owner, const DialogSpec& spec);
bool Confirm(HWND owner, const std::wstring& title, const std::wstring& text, const std::wstring& okText,
             int style);
// Confirm for a change that widens rights: a cautious dialog in the warning look.
bool ConfirmWiderRights(HWND owner, const std::wstring& title, const std::wstring& text,
                        const std::wstring& okText);
inline constexpr UINT HoldInputMs = 1000;
void ShowMessage(HWND owner, const std::wstring& title, const std::wstring& text);

// A field's text without the blanks, tabs and double quotes around it.
std::wstring TrimFieldValue(const std::wstring& text);

// Where everything of a dialog sits, in DIP, for a client width and the measured message height.
struct DialogBox
{
    float left = 0, top = 0, right = 0, bottom = 0;
};
struct DialogFieldBoxes
{
    DialogBox label, frame, browse; // browse is empty without a browse button
};
struct DialogLayout
{
    DialogBox title, message, details, error, bar;
    std::vector<DialogFieldBoxes> fields;
    std::vector<DialogBox> buttons; // in creation order: third, OK, Cancel (those that exist)
    float height = 0;               // client height
};
DialogLayout LayOutDialog(float width, float messageHeight, const std::vector<bool>& browse, bool details,
                          int buttonCount);

} // namespace Pd::Ui
