#include "ui/Dialog.h"

#include "core/Module.h"
#include "core/Text.h"
#include "ui/Button.h"
#include "ui/Canvas.h"

#include <commctrl.h>
#include <shobjidl.h>
#include <uxtheme.h>

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace Pd::Ui
{
namespace
{

constexpr D2D1_COLOR_F White = Rgba(1, 1, 1, 1);
constexpr D2D1_COLOR_F Secondary = Rgba(1, 1, 1, 0.786f);
constexpr D2D1_COLOR_F ErrorColour = Rgba(1, 0.6f, 0.6431f, 1);
constexpr D2D1_COLOR_F Accent = Rgba(0.1216f, 0.5608f, 0.3333f, 1);
constexpr int FirstEdit = 100, FirstBrowse = 200, DetailsId = 300;

using UniqueFont = Unique<HFONT, &::DeleteObject>;
using UniqueBrush = Unique<HBRUSH, &::DeleteObject>;

std::wstring WindowText(HWND window, int limit)
{
    std::wstring text(static_cast<std::size_t>(limit) + 1, L'\0');
    text.resize(static_cast<std::size_t>(std::max(0, ::GetWindowTextW(window, text.data(), limit + 1))));
    return text;
}

constexpr UINT_PTR HoldTimer = 1;

std::wstring WithoutAccessKey(const std::wstring& label)
{
    std::wstring plain = label;
    std::erase(plain, L'&');
    return plain;
}

bool IsUserInput(UINT message)
{
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

std::optional<std::wstring> Browse(HWND owner, const COMDLG_FILTERSPEC* filter, const std::wstring& current)
{
    ComPtr<IFileOpenDialog> picker;
    if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                  picker.PutVoid())))
        return std::nullopt;
    UINT types = 0;
    while (filter && filter[types].pszName && filter[types].pszName[0])
        ++types;
    if (types > 0)
        picker->SetFileTypes(types, filter);
    FILEOPENDIALOGOPTIONS options = 0;
    picker->GetOptions(&options);
    picker->SetOptions(options | FOS_FORCEFILESYSTEM | FOS_FILEMUSTEXIST);
    if (current.find(L"://") == std::wstring::npos)
    {
        auto slash = current.find_last_of(L"\\/");
        std::wstring folder = slash == std::wstring::npos ? current : current.substr(0, slash);
        ComPtr<IShellItem> item;
        if (!folder.empty() &&
            SUCCEEDED(::SHCreateItemFromParsingName(folder.c_str(), nullptr, IID_IShellItem, item.PutVoid())))
            picker->SetFolder(item.Get());
    }
    if (FAILED(picker->Show(owner)))
        return std::nullopt;
    ComPtr<IShellItem> result;
    PWSTR path = nullptr;
    if (FAILED(picker->GetResult(result.Put())) || FAILED(result->GetDisplayName(SIGDN_FILESYSPATH, &path)))
        return std::nullopt;
    std::wstring chosen(path);
    ::CoTaskMemFree(path);
    return chosen;
}

class Dialog
{
public:
    Dialog(HWND owner, const DialogSpec& spec) : owner_(owner), spec_(spec) {}
    DialogResult Run();
    static LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void Layout();
    void Draw(Canvas& canvas);
    void FillEdits(HDC dc);
    void ReadInput(int button);
    float Px(float dip) const { return fonts_.Px(dip); }
    D2D1_RECT_F Scaled(const DialogBox& box) const
    {
        return RectF(Px(box.left), Px(box.top), Px(box.right), Px(box.bottom));
    }
    HWND AddButton(int id, const std::wstring& label, ButtonLook look);
    void FocusFirst();
    void EndHold();
    LRESULT DefaultButton() const;

    HWND owner_;
    const DialogSpec& spec_;
    HWND window_ = nullptr;
    Fonts fonts_;
    UniqueFont editFont_, monoFont_;
    UniqueBrush editBrush_;
    std::vector<HWND> edits_, browseButtons_, buttons_;
    HWND details_ = nullptr;
    std::unordered_map<HWND, ButtonLook> looks_{16};
    DialogLayout layout_;
    std::wstring error_;
    int button_ = 0;
    std::vector<std::wstring> values_;
    bool done_ = false;
    bool held_ = false; // the first moments of a cautious dialog: input is dropped
};

DialogResult Dialog::Run()
{
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = StaticProc;
        windowClass.hInstance = Pd::Core::ModuleHandle();
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
        windowClass.lpszClassName = DialogClass;
        return ::RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered)
        return {};
    Fonts::Create(fonts_, owner_ ? static_cast<int>(::GetDpiForWindow(owner_)) : 0);
    window_ = ::CreateWindowExW(WS_EX_DLGMODALFRAME, DialogClass, L"Peldra",
                                WS_POPUP | WS_BORDER | WS_SYSMENU | WS_DLGFRAME | WS_CLIPCHILDREN, 0, 0, 100,
                                100, owner_, nullptr, Pd::Core::ModuleHandle(), this);
    if (!window_)
        return {};
    bool ownerWasDisabled = owner_ && !::IsWindowEnabled(owner_);
    if (owner_)
        ::EnableWindow(owner_, FALSE);
    ::ShowWindow(window_, SW_SHOW);
    FocusFirst();
    if (spec_.cautious && ::SetTimer(window_, HoldTimer, HoldInputMs, nullptr))
    {
        held_ = true;
        ::EnableWindow(window_, FALSE);
    }

    bool quit = false;
    MSG message{};
    while (!done_)
    {
        BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
        {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            quit = true;
            break;
        }
        if (got == -1)
        {
            quit = true;
            break;
        }
        if (held_ && IsUserInput(message.message) &&
            (message.hwnd == window_ || ::IsChild(window_, message.hwnd)))
            continue;
        if (!::IsDialogMessageW(window_, &message))
        {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (owner_ && !ownerWasDisabled)
        ::EnableWindow(owner_, TRUE);
    ::DestroyWindow(window_);
    if (quit)
        return {};
    return {button_, std::move(values_)};
}

LRESULT CALLBACK Dialog::StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        auto* dialog = static_cast<Dialog*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        dialog->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(dialog));
    }
    auto* dialog = reinterpret_cast<Dialog*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY)
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (!dialog || message == WM_NCDESTROY)
        return ::DefWindowProcW(window, message, wParam, lParam);
    return dialog->HandleMessage(message, wParam, lParam);
}

void Dialog::FocusFirst()
{
    if (!edits_.empty())
    {
        ::SetFocus(edits_.front());
        ::SendMessageW(edits_.front(), EM_SETSEL, 0, -1);
    }
    else if (!buttons_.empty())
        ::SetFocus(buttons_.back());
}

void Dialog::EndHold()
{
    ::KillTimer(window_, HoldTimer);
    held_ = false;
    ::EnableWindow(window_, TRUE);
    FocusFirst();
}

// Enter's button. A cautious dialog says Cancel unless a button has the focus: OK then takes Tab
// to it and a key.
LRESULT Dialog::DefaultButton() const
{
    if (!spec_.cautious || !spec_.cancelShown)
        return MAKELRESULT(1, DC_HASDEFID);
    HWND focus = ::GetFocus();
    const bool onButton = focus && std::find(buttons_.begin(), buttons_.end(), focus) != buttons_.end();
    return MAKELRESULT(onButton ? ::GetDlgCtrlID(focus) : 2, DC_HASDEFID);
}

HWND Dialog::AddButton(int id, const std::wstring& label, ButtonLook look)
{
    HWND button = CreateButton(window_, id, label);
    if (button)
        looks_[button] = std::move(look);
    return button;
}

void Dialog::CreateControls()
{
    ApplyWindowTheme(window_);
    bool backdrop = Graphics::Get().backdrop;
    editBrush_.Reset(::CreateSolidBrush(
        ColorRefFromRgba(backdrop ? Rgba(0.061f, 0.061f, 0.061f, 1) : Rgba(0.1788f, 0.1788f, 0.1788f, 1))));
    HINSTANCE instance = Pd::Core::ModuleHandle();
    for (std::size_t at = 0; at < spec_.fields.size(); ++at)
    {
        const auto& field = spec_.fields[at];
        HWND edit = ::CreateWindowExW(
            0, L"EDIT", field.value.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 10,
            10, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(FirstEdit + at)), instance, nullptr);
        if (!field.placeholder.empty())
            ::SendMessageW(edit, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(field.placeholder.c_str()));
        ::SendMessageW(edit, EM_LIMITTEXT, 4096, 0);
        edits_.push_back(edit);
        HWND browse = nullptr;
        if (field.filter)
            browse = AddButton(FirstBrowse + static_cast<int>(at), Pd::Core::Text(TextId::Browse),
                               MakeLook(ButtonIcon, 0xE8B7));
        browseButtons_.push_back(browse);
    }
    if (!spec_.details.empty())
    {
        details_ = ::CreateWindowExW(
            0, L"EDIT", L"",
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0,
            0, 10, 10, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(DetailsId)), instance, nullptr);
        ::SetWindowTheme(details_, L"DarkMode_Explorer", nullptr);
        std::wstring text;
        for (wchar_t c : spec_.details)
        {
            if (c == L'\n')
                text += L'\r';
            text += c;
        }
        ::SetWindowTextW(details_, text.c_str());
    }
    if (!spec_.thirdText.empty())
        buttons_.push_back(AddButton(3, spec_.thirdText, MakeLook(ButtonNormal)));
    const std::wstring okText = spec_.okText.empty() ? Pd::Core::Text(TextId::Ok) : spec_.okText;
    buttons_.push_back(
        AddButton(1, spec_.cautious ? WithoutAccessKey(okText) : okText, MakeLook(ButtonAccent)));
    if (spec_.cancelShown)
        buttons_.push_back(
            AddButton(2, spec_.cancelText.empty() ? Pd::Core::Text(TextId::Cancel) : spec_.cancelText,
                      MakeLook(ButtonNormal)));
    std::erase(buttons_, nullptr);
    Layout();
}

void Dialog::Layout()
{
    const float width = static_cast<float>(spec_.width);
    int dpi = fonts_.dpi;
    const wchar_t* mono =
        FirstPresentFamily({L"Cascadia Mono", L"Consolas", L"DejaVu Sans Mono", L"Courier New"},
                           [](const wchar_t* f) { return Graphics::Get().HasFontFamily(f); });
    editFont_.Reset(::CreateFontW(-static_cast<int>(std::lround(Px(13))), 0, 0, 0, 400, FALSE, FALSE, FALSE,
                                  DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, fonts_.uiFamily));
    monoFont_.Reset(::CreateFontW(-static_cast<int>(std::lround(Px(11.5f))), 0, 0, 0, 400, FALSE, FALSE,
                                  FALSE, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, mono));
    float message = spec_.text.empty() ? 0.0f
                                       : MeasureTextWrapped(fonts_, 0, spec_.text, Px(width - 48)) * 96.0f /
                                             static_cast<float>(dpi);
    std::vector<bool> browse;
    for (const auto& field : spec_.fields)
        browse.push_back(field.filter != nullptr);
    layout_ = LayOutDialog(width, message, browse, details_ != nullptr, static_cast<int>(buttons_.size()));

    auto place = [](HWND control, const D2D1_RECT_F& box) {
        ::SetWindowPos(control, nullptr, static_cast<int>(std::lround(box.left)),
                       static_cast<int>(std::lround(box.top)),
                       static_cast<int>(std::lround(box.right - box.left)),
                       static_cast<int>(std::lround(box.bottom - box.top)), SWP_NOZORDER | SWP_NOACTIVATE);
    };
    for (std::size_t at = 0; at < edits_.size(); ++at)
    {
        auto frame = Scaled(layout_.fields[at].frame);
        float height = static_cast<float>(::MulDiv(18, dpi, 96));
        float top = frame.top + (frame.bottom - frame.top - height) / 2;
        place(edits_[at], RectF(frame.left + 10, top, frame.right - 10, top + height));
        ::SendMessageW(edits_[at], WM_SETFONT, reinterpret_cast<WPARAM>(editFont_.Get()), TRUE);
        if (browseButtons_[at])
            place(browseButtons_[at], Scaled(layout_.fields[at].browse));
    }
    if (details_)
    {
        auto frame = Scaled(layout_.details);
        place(details_, RectF(frame.left + Px(8), frame.top + Px(6), frame.left + Px(8) + Px(width - 58),
                              frame.top + Px(6) + Px(368)));
        ::SendMessageW(details_, WM_SETFONT, reinterpret_cast<WPARAM>(monoFont_.Get()), TRUE);
    }
    for (std::size_t at = 0; at < buttons_.size(); ++at)
        place(buttons_[at], Scaled(layout_.buttons[at]));

    RECT frame{0, 0, static_cast<LONG>(std::lround(Px(width))),
               static_cast<LONG>(std::lround(Px(layout_.height)))};
    ::AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                               static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_EXSTYLE)),
                               static_cast<UINT>(dpi));
    int dialogWidth = frame.right - frame.left, dialogHeight = frame.bottom - frame.top;
    RECT around{};
    if (!owner_ || !::GetWindowRect(owner_, &around))
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
    int x = around.left + (around.right - around.left - dialogWidth) / 2;
    int y = around.top + (around.bottom - around.top - dialogHeight) / 3;
    ::SetWindowPos(window_, nullptr, x, y, dialogWidth, dialogHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Dialog::Draw(Canvas& canvas)
{
    HWND focus = ::GetFocus();
    canvas.Clear(Graphics::Get().backdrop ? Rgba(0, 0, 0, 0) : Rgba(0.1255f, 0.1255f, 0.1255f, 1));
    canvas.DrawText(spec_.title, Scaled(layout_.title), 7, spec_.style ? ErrorColour : White,
                    DWRITE_TEXT_ALIGNMENT_LEADING);
    if (!spec_.text.empty())
        canvas.Text(spec_.text, Scaled(layout_.message), 0, Secondary);
    auto frame = [&](const D2D1_RECT_F& box) {
        canvas.FillRect(box, Rgba(1, 1, 1, 0.061f), Px(4));
        canvas.StrokeRect(box, Rgba(1, 1, 1, 0.075f), Px(4), 1.0f);
    };
    for (std::size_t at = 0; at < spec_.fields.size() && at < layout_.fields.size(); ++at)
    {
        canvas.DrawText(spec_.fields[at].label, Scaled(layout_.fields[at].label), 2, Secondary,
                        DWRITE_TEXT_ALIGNMENT_LEADING);
        auto box = Scaled(layout_.fields[at].frame);
        frame(box);
        bool focused = focus == edits_[at];
        float line = focused ? Px(2) : Px(1);
        canvas.FillRect(RectF(box.left + Px(1), box.bottom - line, box.right - Px(1), box.bottom),
                        focused ? Accent : Rgba(1, 1, 1, 0.3f));
    }
    if (details_)
        frame(Scaled(layout_.details));
    if (!error_.empty())
        canvas.DrawText(error_, Scaled(layout_.error), 2, ErrorColour, DWRITE_TEXT_ALIGNMENT_LEADING);
    auto bar = Scaled(layout_.bar);
    canvas.FillRect(bar, Rgba(0, 0, 0, 0.18f));
    canvas.Line(D2D1::Point2F(bar.left, bar.top + 0.5f), D2D1::Point2F(bar.right, bar.top + 0.5f),
                Rgba(1, 1, 1, 0.06f), 1.0f);
}

void Dialog::FillEdits(HDC dc)
{
    int inset = static_cast<int>(Px(3));
    auto fill = [&](const DialogBox& box) {
        auto scaled = Scaled(box);
        RECT rect{static_cast<LONG>(scaled.left) + inset, static_cast<LONG>(scaled.top) + inset,
                  static_cast<LONG>(scaled.right) - inset, static_cast<LONG>(scaled.bottom) - inset};
        ::FillRect(dc, &rect, editBrush_.Get());
    };
    for (const auto& field : layout_.fields)
        fill(field.frame);
    if (details_)
        fill(layout_.details);
}

void Dialog::ReadInput(int button)
{
    std::vector<std::wstring> values;
    for (HWND edit : edits_)
        values.push_back(TrimFieldValue(WindowText(edit, 4096)));
    if (button == 1 && spec_.validator)
    {
        if (auto problem = spec_.validator(values))
        {
            error_ = std::move(*problem);
            ::InvalidateRect(window_, nullptr, FALSE);
            return;
        }
    }
    button_ = button;
    values_ = std::move(values);
    done_ = true;
}

LRESULT Dialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_CREATE:
        CreateControls();
        return 0;
    case WM_PAINT: {
        PaintScope paint(window_);
        RECT client{};
        ::GetClientRect(window_, &client);
        PaintWithCanvas(
            paint.Dc(), client, fonts_, [this](Canvas& canvas) { Draw(canvas); },
            [this](HDC dc) { FillEdits(dc); });
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (auto look = looks_.find(item.hwndItem); look != looks_.end())
            DrawButton(item, fonts_, look->second);
        return 1;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id == 1)
            ReadInput(1);
        else if (id == 2)
            ReadInput(spec_.cancelShown ? 0 : 1);
        else if (id == 3)
            ReadInput(2);
        else if (id >= FirstEdit && id < FirstEdit + 100 &&
                 (HIWORD(wParam) == EN_SETFOCUS || HIWORD(wParam) == EN_KILLFOCUS))
            ::InvalidateRect(window_, nullptr, FALSE);
        else if (id >= FirstBrowse && id < FirstBrowse + 100 &&
                 static_cast<std::size_t>(id - FirstBrowse) < edits_.size())
        {
            HWND edit = edits_[static_cast<std::size_t>(id - FirstBrowse)];
            if (auto path = Browse(window_, spec_.fields[static_cast<std::size_t>(id - FirstBrowse)].filter,
                                   WindowText(edit, 4095)))
                ::SetWindowTextW(edit, path->c_str());
        }
        return 0;
    }
    case WM_CLOSE:
        ReadInput(spec_.cancelShown ? 0 : 1);
        return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, RGB(255, 255, 255));
        LOGBRUSH brush{};
        ::GetObjectW(editBrush_.Get(), sizeof brush, &brush);
        ::SetBkColor(dc, brush.lbColor);
        return reinterpret_cast<LRESULT>(editBrush_.Get());
    }
    case WM_DPICHANGED:
        Fonts::Create(fonts_, HIWORD(wParam));
        Layout();
        ::InvalidateRect(window_, nullptr, TRUE);
        return 0;
    case WM_TIMER:
        if (wParam == HoldTimer)
            EndHold();
        return 0;
    case DM_GETDEFID:
        return DefaultButton();
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

} // namespace

DialogResult ShowDialog(HWND owner, const DialogSpec& spec)
{
    Dialog dialog(owner, spec);
    return dialog.Run();
}

bool Confirm(HWND owner, const std::wstring& title, const std::wstring& text, const std::wstring& okText,
             int style)
{
    DialogSpec spec;
    spec.title = title;
    spec.text = text;
    spec.okText = okText;
    spec.style = style;
    return ShowDialog(owner, spec).button == 1;
}

bool ConfirmWiderRights(HWND owner, const std::wstring& title, const std::wstring& text,
                        const std::wstring& okText)
{
    DialogSpec spec;
    spec.title = title;
    spec.text = text;
    spec.okText = okText;
    spec.style = 1;
    spec.cautious = true;
    return ShowDialog(owner, spec).button == 1;
}

void ShowMessage(HWND owner, const std::wstring& title, const std::wstring& text)
{
    DialogSpec spec;
    spec.title = title;
    spec.text = text;
    spec.cancelShown = false;
    static_cast<void>(ShowDialog(owner, spec));
}

} // namespace Pd::Ui
