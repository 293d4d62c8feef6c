#include "ui/MainWindow.h"

#include "core/Strings.h"
#include "core/Text.h"
#include "release/folders/Folders.h"
#include "ui/HostRows.h"
#include "ui/MainWindowParts.h"

#include <algorithm>
#include <cmath>

namespace Pd::Ui
{
namespace
{

D2D1_COLOR_F LevelColour(Pd::Level level)
{
    switch (level)
    {
    case Pd::Level::Error:
        return Palette::Red;
    case Pd::Level::Warning:
        return Palette::Yellow;
    case Pd::Level::Success:
        return Palette::Green;
    default:
        return Palette::Text786;
    }
}

void DrawCard(Canvas& canvas, const D2D1_RECT_F& card, float radius)
{
    canvas.FillRect(card, Palette::CardFill, radius);
    canvas.StrokeRect(card, Palette::CardOutline, radius, 1.0f);
}

struct ToneLook
{
    wchar_t glyph;
    D2D1_COLOR_F colour;
};

ToneLook LookOf(Tone tone)
{
    switch (tone)
    {
    case Tone::Good:
        return {0xE930, Palette::Green};
    case Tone::Attention:
        return {0xE946, Palette::Yellow};
    case Tone::Bad:
        return {0xEA39, Palette::Red};
    default:
        return {0xE72C, Palette::Text545};
    }
}

std::wstring ComponentDisplayText(const std::wstring& name)
{
    static constexpr std::pair<const wchar_t*, TextId> names[] = {
        {L"system", TextId::AndroidSystem},   {L"system_ext", TextId::SystemExtensions},
        {L"product", TextId::AppsGooglePlay}, {L"vendor", TextId::HardwareLayer},
        {L"kernel", TextId::LinuxKernel},     {L"initrd", TextId::BootImage},
        {L"windows", TextId::WindowsPart},    {L"tovikpatch", TextId::TovikPatch},
    };
    for (const auto& [id, text] : names)
        if (name == id)
            return Pd::Core::Text(text);
    return name;
}

} // namespace

void MainWindow::Paint(Canvas& canvas)
{
    canvas.Clear(Graphics::Get().backdrop ? Rgba(0, 0, 0, 0) : Rgba(0.1255f, 0.1255f, 0.1255f, 1));
    menuBar_.DrawBar(canvas);
    // A section outside the area of this paint is not even worked out: a progress frame is
    // the bar and the status line.
    if (canvas.Shows(layout_.headerCard))
        PaintHeader(canvas);
    if (canvas.Shows(layout_.hostCard))
        PaintHostCard(canvas);
    if (canvas.Shows(layout_.componentsCard))
        PaintComponents(canvas);
    if (logVisible_)
        DrawCard(canvas, layout_.logCard, Px(8));
}

void MainWindow::PaintHeader(Canvas& canvas)
{
    DrawCard(canvas, layout_.headerCard, Px(8));
    const auto& title = layout_.titleLine;
    canvas.FillEllipse(D2D1::Point2F(title.left + Px(5), (title.top + title.bottom) / 2), Px(5),
                       Palette::Teal);
    canvas.DrawText(Pd::Core::Text(TextId::PageTitle),
                    RectF(title.left + Px(15), title.top, title.right, title.bottom), 7, Palette::White,
                    DWRITE_TEXT_ALIGNMENT_LEADING);
    if (!installState_.version.empty())
        canvas.DrawText(Pd::Core::FormatText(TextId::InstalledVersion, installState_.version), title, 2,
                        Palette::Green, DWRITE_TEXT_ALIGNMENT_TRAILING);
    else
        canvas.DrawText(Pd::Core::Text(TextId::NotInstalled), title, 2, Palette::Text545,
                        DWRITE_TEXT_ALIGNMENT_TRAILING);

    const auto& release = layout_.releaseLine;
    D2D1_RECT_F releaseBox = RectF(title.left + Px(15), release.top, release.right, release.bottom);
    if (manifest_)
        canvas.DrawText(Pd::Core::FormatText(TextId::ReleaseSummary, manifest_->version, manifest_->android,
                                             manifest_->variant),
                        releaseBox, 2, Palette::Text786, DWRITE_TEXT_ALIGNMENT_LEADING);
    else if (!releaseError_.empty())
        canvas.DrawText(releaseError_, releaseBox, 2, Palette::Yellow, DWRITE_TEXT_ALIGNMENT_LEADING);
    else
        canvas.DrawText(Pd::Core::Text(TextId::ReleaseNotReadYet), releaseBox, 2, Palette::Text786,
                        DWRITE_TEXT_ALIGNMENT_LEADING);

    for (auto [row, label] : {std::pair{layout_.sourceRow, TextId::SourceHeading},
                              std::pair{layout_.folderRow, TextId::FolderHeading},
                              std::pair{layout_.downloadRow, TextId::DownloadHeading}})
        canvas.DrawText(Pd::Core::Text(label), RectF(row.left, row.top, row.left + labelWidth_, row.bottom),
                        3, Palette::Text545, DWRITE_TEXT_ALIGNMENT_LEADING);
    const auto& folder = layout_.folderRow;
    canvas.DrawText(installFolder_.Path(),
                    RectF(folder.left + labelWidth_, folder.top, folder.right, folder.bottom), 0,
                    Palette::White, DWRITE_TEXT_ALIGNMENT_LEADING);
    std::wstring download = L"\u2014";
    if (manifest_)
    {
        bool fetch =
            std::any_of(plan_.items.begin(), plan_.items.end(), [](const auto& row) { return row.needed; });
        download = fetch ? Pd::Core::FormatText(TextId::DownloadAndDiskSizes,
                                                Pd::Core::FormatBytes(plan_.downloadBytes),
                                                Pd::Core::FormatBytes(plan_.diskBytes))
                         : Pd::Core::Text(TextId::NothingToDownload);
    }
    const auto& downloadRow = layout_.downloadRow;
    canvas.DrawText(
        download,
        RectF(downloadRow.left + labelWidth_, downloadRow.top, downloadRow.right, downloadRow.bottom), 0,
        Palette::White, DWRITE_TEXT_ALIGNMENT_LEADING);
    PaintProgress(canvas);
    canvas.DrawText(statusText_, layout_.statusLine, 2, LevelColour(statusLevel_),
                    DWRITE_TEXT_ALIGNMENT_LEADING);
}

void MainWindow::PaintProgress(Canvas& canvas)
{
    const auto& track = layout_.progressTrack;
    const float width = track.right - track.left;
    const float radius = (track.bottom - track.top) / 2;
    canvas.FillRect(track, Palette::Track, radius);
    D2D1_COLOR_F bar = progressFailed_                  ? Palette::Red
                       : (!progressSucceeded_ || busy_) ? Palette::Teal
                                                        : Palette::Green;
    if ((busy_ || checking_) && progress_.position < 0)
    {
        float segment = 0.28f * width;
        float phase = static_cast<float>((::GetTickCount64() - progressStart_) % 1600) / 1600.0f;
        float left = track.left - segment + (width + segment) * phase;
        canvas.Target()->PushAxisAlignedClip(track, D2D1_ANTIALIAS_MODE_ALIASED);
        canvas.FillRect(
            RectF(std::max(track.left, left), track.top, std::min(track.right, left + segment), track.bottom),
            bar, radius > 0 ? radius : 0);
        canvas.Target()->PopAxisAlignedClip();
    }
    else if (shownFraction_ > 0.001f)
        canvas.FillRect(
            RectF(track.left, track.top, track.left + width * std::min(1.0f, shownFraction_), track.bottom),
            bar, radius);
}

void MainWindow::PaintHostCard(Canvas& canvas)
{
    const auto& card = layout_.hostCard;
    DrawCard(canvas, card, Px(8));
    const float left = card.left + Px(14), right = card.right - Px(14), top = card.top + Px(14);
    canvas.DrawText(Pd::Core::Text(TextId::ThisPcHeading), RectF(left, top, right, top + Px(22)), 1,
                    Palette::White, DWRITE_TEXT_ALIGNMENT_LEADING);
    HostFacts facts;
    facts.windows = windows_ ? &*windows_ : nullptr;
    if (windows_ && windows_->installedPackage)
        facts.packageFromInstallFolder =
            Pd::Core::SameFile(windows_->installedPackage->installLocation, installFolder_.Path());
    facts.releaseChecked = releaseChecked_;
    facts.bluetoothAdapter = bluetoothAdapter_;
    facts.releaseState = releaseState_;
    facts.bridgeOn = bluetoothBridgeOn_;
    facts.connected = bluetoothConnected_;
    facts.startWithWindows = startWithWindows_;
    facts.showsRegistration = ShowsRegistration();
    facts.registrationRequested = registrationRequested_;
    facts.playRegistered = playRegistered_;
    facts.helloBridgeHolder = helloBridgeHolder_;
    float y = top + Px(30);
    for (const HostRow& row : HostRows(facts))
    {
        ToneLook look = LookOf(row.tone);
        canvas.DrawText(std::wstring(1, look.glyph), RectF(left, y + Px(2), left + Px(22), y + Px(20)), 6,
                        look.colour, DWRITE_TEXT_ALIGNMENT_LEADING);
        std::wstring label = Pd::Core::Text(row.label);
        canvas.DrawText(label, RectF(left + Px(22), y, right, y + Px(18)), 3, Palette::Text545,
                        DWRITE_TEXT_ALIGNMENT_LEADING);
        if (!row.note.empty())
            canvas.DrawText(
                row.note, RectF(left + Px(22) + MeasureText(fonts_, 3, label) + Px(12), y, right, y + Px(18)),
                2, Palette::Yellow, DWRITE_TEXT_ALIGNMENT_TRAILING);
        float reserve = row.reservesRegister ? registerWidth_ + Px(8) : 0.0f;
        canvas.DrawText(row.value, RectF(left + Px(22), y + Px(18), right - reserve, y + Px(36)), 0,
                        row.tone == Tone::Bad ? Palette::Red : Palette::White, DWRITE_TEXT_ALIGNMENT_LEADING);
        y += Px(40);
    }
}

void MainWindow::PaintComponents(Canvas& canvas)
{
    const auto& card = layout_.componentsCard;
    DrawCard(canvas, card, Px(8));
    const float left = card.left + Px(14), right = card.right - Px(14), top = card.top + Px(14);
    canvas.DrawText(Pd::Core::Text(TextId::ComponentsHeading), RectF(left, top, right, top + Px(22)), 1,
                    Palette::White, DWRITE_TEXT_ALIGNMENT_LEADING);
    float y = top + Px(30);
    if (!manifest_)
    {
        canvas.Text(Pd::Core::Text(TextId::ComponentsAfterReleaseRead),
                    RectF(left, y, right, card.bottom - Px(14)), 2, Palette::Text545);
        return;
    }
    canvas.Target()->PushAxisAlignedClip(RectF(card.left, y, card.right, card.bottom - Px(6)),
                                         D2D1_ANTIALIAS_MODE_ALIASED);
    float pill = Px(78);
    for (TextId id : {TextId::ComponentInstalled, TextId::ComponentUpdate, TextId::ComponentNew})
        pill = std::max(pill, MeasureText(fonts_, 2, Pd::Core::Text(id)) + Px(16));
    const float pillLeft = right - pill, sizeLeft = pillLeft - Px(70);
    for (const auto& row : plan_.items)
    {
        const Pd::Core::Component& component = row.component.get();
        TextId state = TextId::ComponentInstalled;
        D2D1_COLOR_F colour = Palette::Green;
        if (row.needed)
        {
            bool known = installState_.components.contains(component.id);
            state = known ? TextId::ComponentUpdate : TextId::ComponentNew;
            colour = known ? Palette::Teal : Palette::Text786;
        }
        canvas.DrawText(ComponentDisplayText(component.id), RectF(left, y, sizeLeft - Px(8), y + Px(24)), 0,
                        Palette::White, DWRITE_TEXT_ALIGNMENT_LEADING);
        canvas.DrawText(Pd::Core::FormatBytes(component.size),
                        RectF(sizeLeft, y, pillLeft - Px(8), y + Px(24)), 2, Palette::Text545,
                        DWRITE_TEXT_ALIGNMENT_TRAILING);
        const float centre = y + Px(12);
        D2D1_COLOR_F fill = colour;
        fill.a = 0.14f;
        D2D1_RECT_F box = RectF(pillLeft, centre - Px(9), right, centre + Px(9));
        canvas.FillRect(box, fill, Px(9));
        canvas.DrawText(Pd::Core::Text(state), box, 2, colour, DWRITE_TEXT_ALIGNMENT_CENTER);
        y += Px(24);
    }
    canvas.Target()->PopAxisAlignedClip();
}

} // namespace Pd::Ui
