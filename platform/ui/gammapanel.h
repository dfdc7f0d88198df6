#pragma once
// The colour-picker panel: a colour chart over most of the control, a readout
// of the colour under the pointer, and below it a foreground and a background
// swatch with a swap control between them.
//
//   +-----------+  0
//   |           |
//   |   chart   |  hue across, white at the top, the pure hue half way down,
//   |           |  black at the bottom
//   +-----------+  Height - 60
//   |  readout  |  the colour under the pointer
//   | [fg]  [bg]|  Height - 42, 24 by 24 each
//   |    <>     |  swap, Height - 16
//   +-----------+
//
// The left button on the chart takes the colour under the pointer as the
// foreground colour, the right button as the background colour; a click on a
// swatch opens the colour dialog for that colour; the swap control exchanges
// the two. OnChangeColor follows every such action with both colours, even when
// the colour taken equals the one before (the user picked it all the same).
// Setters raise nothing, as for every control.
#include <functional>
#include <optional>

#include "platform/ui/controls.h"

namespace ui {

enum class MouseButton { Left, Right, Middle };

class GammaPanel : public Control {
public:
    GammaPanel(Control* parent, std::string name);
    const char* ClassName() const override { return "TJvGammaPanel"; }

    struct Area {
        int left = 0, top = 0, width = 0, height = 0;
        bool Contains(int x, int y) const { return x >= left && x < left + width && y >= top && y < top + height; }
        bool operator==(const Area&) const = default;
    };
    // The parts, in the control's own coordinates; they follow its size.
    Area ChartArea() const;
    Area ForegroundSwatchArea() const;
    Area BackgroundSwatchArea() const;
    Area SwapArea() const;

    // The chart's colour at a point of the control; nothing outside the chart.
    std::optional<TColor> ChartColorAt(int x, int y) const;

    TColor ForegroundColor() const { return m_foreground; }
    TColor BackgroundColor() const { return m_background; }
    void SetForegroundColor(TColor c);
    void SetBackgroundColor(TColor c);

    // The colour under the pointer while it is over the chart, for the readout.
    std::optional<TColor> HotColor() const { return m_hot; }

    // A user's actions.
    void MouseMove(int x, int y);
    void MouseLeave();
    // A press anywhere on the control: picks on the chart (left: foreground,
    // right: background), opens a swatch's dialog or swaps (left button only).
    void MouseDown(int x, int y, MouseButton button);
    // A press on the chart; false (and nothing done) outside it.
    bool PickAt(int x, int y, MouseButton button);
    void Swap();
    // The colour dialog for that colour, starting from it; OK takes its colour.
    void ClickForegroundSwatch();
    void ClickBackgroundSwatch();

    std::function<void(TColor foreground, TColor background)> OnChangeColor;

private:
    void ChangeColor();
    bool RunDialog(TColor& color);

    TColor m_foreground = clBlack;
    TColor m_background = clWhite;
    std::optional<TColor> m_hot;
};

} // namespace ui
