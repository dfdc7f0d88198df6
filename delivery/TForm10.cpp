#include "delivery/TForm10.h"

#include <algorithm>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "delivery/delivery.h"
#include "platform/image/image.h"
#include "platform/sys/error.h"
#include "platform/sys/files.h"

namespace {

// Draws `picture` at the top-left corner of the image control's picture. A
// control without one gets a white canvas of its own size to draw on, so
// what falls outside it is cut off.
void DrawAtCorner(ui::Image& image, const ui::Bitmap& picture)
{
    ui::Bitmap canvas;
    if (const ui::Bitmap* current = image.Picture()) {
        canvas = *current;
    } else {
        canvas.Width = image.Width();
        canvas.Height = image.Height();
        canvas.Pixels.assign(static_cast<std::size_t>(canvas.Width) * static_cast<std::size_t>(canvas.Height),
                             0xFFFFFFFFu);
    }
    const int width = std::min(canvas.Width, picture.Width);
    const int height = std::min(canvas.Height, picture.Height);
    for (int y = 0; y < height; ++y)
        std::copy_n(picture.Pixels.begin() + static_cast<std::ptrdiff_t>(y) * picture.Width, width,
                    canvas.Pixels.begin() + static_cast<std::ptrdiff_t>(y) * canvas.Width);
    image.SetPicture(std::move(canvas));
}

} // namespace

TForm10::TForm10(Program& program)
    : ui::Form(program.app, "Form10", "TForm10"),
      Image1(this, "Image1"),
      Image2(this, "Image2"),
      Button1(this, "Button1"),
      Button2(this, "Button2"),
      m_program(program)
{
    SetCaption("bmp to jpg");
    // Nobody ever sees this window, so where it sits and where its controls
    // sit (the two pictures side by side, the buttons under them) is ours.
    SetBounds(200, 200, 353, 270);

    Image1.SetBounds(8, 8, 105, 105);
    Image2.SetBounds(128, 8, 105, 105);
    Button1.SetBounds(8, 128, 75, 25);
    Button1.SetCaption("load");
    Button2.SetBounds(96, 128, 75, 25);
    Button2.SetCaption("save");

    Button1.OnClick = [this] { Button1Click(); };
    Button2.OnClick = [this] { Button2Click(); };
}

void TForm10::Button1Click()
{
    TvinForm1& main = *m_program.vinForm1;
    const std::string path = main.Label1.Caption();

    // The working picture starts as the file itself, and the control takes
    // its size: what is drawn over it below covers it exactly.
    if (main.webbrowser1.Width() == 0)
        Image2.SetPicture(img::LoadPictureByExtension(path));
    if (Image2.HasPicture())
        Image2.SetBounds(Image2.Left(), Image2.Top(), Image2.PictureWidth(), Image2.PictureHeight());

    const std::string bytes = sys::ReadFile(path);
    if (!bytes.starts_with("BM"))
        throw sys::Error("cannot read picture " + path + ": not a bitmap");
    const ui::Bitmap bitmap = img::DecodePicture(bytes, path);
    DrawAtCorner(Image1, bitmap);
    // Then as the JPEG codec gives it back, which is what save encodes again.
    DrawAtCorner(Image2, img::DecodePicture(img::EncodeJpeg(bitmap), path));
}

void TForm10::Button2Click()
{
    // An empty working picture (save before any load) is refused by the codec.
    const ui::Bitmap* picture = Image2.Picture();
    img::SaveJpeg(picture ? *picture : ui::Bitmap{}, m_program.PathOf(kConvertedPictureName));
}
