#include "platform/ui/gammapanel.h"

#include <algorithm>

#include "platform/ui/application.h"

namespace ui {

namespace {

// Heights of the strip under the chart and of its rows.
constexpr int kStrip = 60;
constexpr int kSwatch = 24;
constexpr int kSwatchTop = 42;     // from the bottom
constexpr int kSwap = 12;
constexpr int kSwapTop = 16;       // from the bottom

// The fully saturated hue at `pos` of 6 * 256 steps round the circle, red
// first, as red, green, blue.
void PureHue(int pos, int& r, int& g, int& b)
{
    const int f = pos % 256;
    switch (pos / 256) {
    case 0: r = 255; g = f; b = 0; break;
    case 1: r = 255 - f; g = 255; b = 0; break;
    case 2: r = 0; g = 255; b = f; break;
    case 3: r = 0; g = 255 - f; b = 255; break;
    case 4: r = f; g = 0; b = 255; break;
    default: r = 255; g = 0; b = 255 - f; break;
    }
}

} // namespace

GammaPanel::GammaPanel(Control* parent, std::string name) : Control(parent, std::move(name)) {}

GammaPanel::Area GammaPanel::ChartArea() const
{
    return {0, 0, std::max(0, Width()), std::max(0, Height() - kStrip)};
}

GammaPanel::Area GammaPanel::ForegroundSwatchArea() const
{
    return {4, Height() - kSwatchTop, kSwatch, kSwatch};
}

GammaPanel::Area GammaPanel::BackgroundSwatchArea() const
{
    return {Width() - 4 - kSwatch, Height() - kSwatchTop, kSwatch, kSwatch};
}

GammaPanel::Area GammaPanel::SwapArea() const
{
    return {(Width() - kSwap) / 2, Height() - kSwapTop, kSwap, kSwap};
}

std::optional<TColor> GammaPanel::ChartColorAt(int x, int y) const
{
    const Area chart = ChartArea();
    if (!chart.Contains(x, y))
        return std::nullopt;
    int r = 0, g = 0, b = 0;
    PureHue(x * 6 * 256 / chart.width, r, g, b);
    // Down the chart the hue fades from white through itself to black, in
    // whole steps so every run of the program sees the same chart.
    const int last = chart.height - 1;
    const int mid = last / 2;
    auto shade = [&](int c) {
        if (y < mid)
            return c + (255 - c) * (mid - y) / mid;
        if (y > mid)
            return c * (last - y) / (last - mid);
        return c;
    };
    return RGB(shade(r), shade(g), shade(b));
}

void GammaPanel::SetForegroundColor(TColor c)
{
    m_foreground = c;
    Changed(Prop::Color);
}

void GammaPanel::SetBackgroundColor(TColor c)
{
    m_background = c;
    Changed(Prop::Color);
}

void GammaPanel::ChangeColor()
{
    if (OnChangeColor)
        OnChangeColor(m_foreground, m_background);
}

void GammaPanel::MouseMove(int x, int y)
{
    std::optional<TColor> hot = ChartColorAt(x, y);
    if (hot == m_hot)
        return;
    m_hot = hot;
    Changed(Prop::Color);
}

void GammaPanel::MouseLeave()
{
    if (!m_hot)
        return;
    m_hot.reset();
    Changed(Prop::Color);
}

bool GammaPanel::PickAt(int x, int y, MouseButton button)
{
    std::optional<TColor> c = ChartColorAt(x, y);
    if (!c || !Enabled())
        return false;
    if (button == MouseButton::Left)
        SetForegroundColor(*c);
    else if (button == MouseButton::Right)
        SetBackgroundColor(*c);
    else
        return false;
    ChangeColor();
    return true;
}

void GammaPanel::MouseDown(int x, int y, MouseButton button)
{
    if (!Enabled())
        return;
    if (PickAt(x, y, button) || button != MouseButton::Left)
        return;
    if (ForegroundSwatchArea().Contains(x, y))
        ClickForegroundSwatch();
    else if (BackgroundSwatchArea().Contains(x, y))
        ClickBackgroundSwatch();
    else if (SwapArea().Contains(x, y))
        Swap();
}

void GammaPanel::Swap()
{
    if (!Enabled())
        return;
    std::swap(m_foreground, m_background);
    Changed(Prop::Color);
    ChangeColor();
}

bool GammaPanel::RunDialog(TColor& color)
{
    Form* form = OwnerForm();
    if (!form || !Enabled())
        return false;
    ColorDialog dialog;
    dialog.Color = color;
    if (!dialog.Execute(form->App()))
        return false;
    color = dialog.Color;
    return true;
}

void GammaPanel::ClickForegroundSwatch()
{
    TColor c = m_foreground;
    if (!RunDialog(c))
        return;
    SetForegroundColor(c);
    ChangeColor();
}

void GammaPanel::ClickBackgroundSwatch()
{
    TColor c = m_background;
    if (!RunDialog(c))
        return;
    SetBackgroundColor(c);
    ChangeColor();
}

} // namespace ui
