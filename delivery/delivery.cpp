// Sending the current picture to a phone through the conversion service, and
// the random invitation to do so.
#include "delivery/delivery.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "delivery/TForm10.h"
#include "delivery/TForm9.h"
#include "delivery/preview.h"
#include "delivery/services.h"
#include "platform/sys/clock.h"
#include "settings/language.h"

namespace {

// What precedes the token in the upload answer: the file field's value up to
// its opening quote. Letter case counts.
constexpr std::string_view kTokenMarker = "input type=\"hidden\" name=\"file\" value=\"";
constexpr std::size_t kTokenLength = 36;

std::string PictureByAddressUrl(const std::string& address)
{
    // Appended as it is: the service reads everything after "url=".
    return "http://" + ConverterHost() + "/download/?url=" + address;
}

std::string UploadUrl() { return "http://" + ConverterHost() + "/download/?form=1&resize=0&dsplogo=1"; }

std::string UploadedPictureUrl(const std::string& token)
{
    return "http://" + ConverterHost() + "/download/?url=http://" + UploadHost() + "/content/lumarok/tmp/" + token;
}

std::string ContentSiteUrl() { return "http://" + ContentHost() + "/"; }

// The token the answer names, or nothing when it has no marker. The answer is
// text up to its first zero byte; a marker near its end gives a shorter token.
std::optional<std::string> UploadToken(const std::string& answer)
{
    const std::string text = answer.substr(0, answer.find('\0'));
    const auto at = text.find(kTokenMarker);
    if (at == std::string::npos)
        return std::nullopt;
    return text.substr(at + kTokenMarker.size(), kTokenLength);
}

std::optional<std::uint32_t> g_invitationSeed;

// One row of the invitation's table: a draw from 1 to `draws`; up to
// `blinkUpTo` blinks the send button, `askFrom` to `askTo` asks, `site` opens
// the content site, anything else does nothing.
struct Invitation {
    int draws;
    int blinkUpTo;
    int askFrom, askTo;
    int site;
};

constexpr Invitation kOnSelection{16, 4, 6, 8, 9};
constexpr Invitation kOnPopup{20, 5, 6, 6, 7};

void Blink(Program& program)
{
    ui::Button& button = program.vinForm1->JvXPButton4;
    for (int i = 0; i < 3; ++i) {
        button.SetFontColor(ui::clRed);
        pause(program, 100);
        button.SetFontColor(ui::clWindowText);
        if (i < 2)
            pause(program, 100);
    }
}

void Invite(Program& program, const Invitation& rule)
{
    if (g_invitationSeed)
        sys::SetRandSeed(*g_invitationSeed);
    else
        sys::Randomize();
    const int draw = sys::Random(rule.draws) + 1;

    if (draw <= rule.blinkUpTo)
        Blink(program);
    if (draw >= rule.askFrom && draw <= rule.askTo) {
        // No language, no question.
        if (auto question = ByLanguage(program, "Upload to your Gsm ?", "Utiliser pour votre mobile ?")) {
            if (program.app.MessageBox(*question, program.app.Title, ui::MB_YESNO) == ui::IDYES)
                program.vinForm1->ussee();
        }
    }
    if (draw == rule.site)
        BrowseURL(ContentSiteUrl());
}

} // namespace

void SetInvitationSeed(std::optional<std::uint32_t> seed) { g_invitationSeed = seed; }

// ---- the send -------------------------------------------------------------------

void TvinForm1::ussee()
{
    const std::string picture = Label1.Caption();
    bool converted = false;

    // Only a lower-case "bmp" ending counts as a bitmap; anything else goes
    // to the service as it is.
    if (picture.ends_with("bmp")) {
        if (webbrowser1.Width() != 0) {
            // The service gets the address and does what it can with it.
            m_program.app.ShowMessage("If you get an empty picture\r\nRight click and save to\r\nyour hard drive");
        } else {
            // The service wants a JPEG: convert it beside the program and
            // send that instead, for the time of the send.
            m_program.Form10->Button1Click();
            m_program.Form10->Button2Click();
            converted = true;
            Label1.SetCaption(m_program.PathOf(kConvertedPictureName));
        }
    }

    m_program.Form9->Show();
    if (webbrowser1.Width() == 0)
        navatruc(Label1.Caption());
    if (webbrowser1.Width() > 0)
        m_program.Form9->WebBrowser1.Navigate(PictureByAddressUrl(Label1.Caption()));

    // Reached only when the upload went through: a failed one leaves the
    // converted picture in place until the next conversion overwrites it.
    if (converted) {
        Label1.SetCaption(picture);
        std::error_code ignored;
        std::filesystem::remove(m_program.PathOf(kConvertedPictureName), ignored);
    }
}

void TvinForm1::navatruc(const std::string& address)
{
    net::MultipartForm form;
    form.AddText("form", "1");
    form.AddText("resize", "");
    form.AddText("lang", "en");
    // The service is told the full local path and a JPEG, whatever it is.
    form.AddFile("photo", address, address, "image/pjpeg");
    const std::string answer = IdHTTP1.Post(UploadUrl(), form);

    const auto token = UploadToken(answer);
    if (!token) {
        // The service turned the picture down or answered something else
        // entirely: there is no page for it, so stay where we are.
        ShowLanguageMessage(m_program, "The conversion service did not take the picture. Please try again later.",
                            "Le service de conversion n'a pas pris l'image. Veuillez réessayer plus tard.");
        return;
    }
    m_program.Form9->WebBrowser1.Navigate(UploadedPictureUrl(*token));
}

void TvinForm1::JvXPButton4Click() { ussee(); }
void TvinForm1::Use1Click() { ussee(); }
void TvinForm1::JvXPButton9Click() { BrowseURL(ContentSiteUrl()); }

// ---- the invitation ---------------------------------------------------------------

void TvinForm1::PopupMenu1Popup() { Invite(m_program, kOnPopup); }

void SendInvitationOnSelection(Program& program) { Invite(program, kOnSelection); }
