// Links and snippets of the selected pictures on the clipboard, and the
// upload of the selected pictures to the image host.
#include <string>
#include <vector>

#include "app/Program.h"
#include "app/TvinForm1.h"
#include "delivery/preview.h"
#include "list/TForm4.h"
#include "platform/shell/shell.h"
#include "settings/language.h"
#include "sharing/imagehost.h"

namespace {

// The host keeps a small version of every picture beside it: ".th" before
// the last four characters of the address (the dot of a three-letter
// extension and the extension). Nothing checks what those four are.
std::string ThumbnailAddress(const std::string& address)
{
    if (address.size() < 4)
        return ".th" + address;
    return address.substr(0, address.size() - 4) + ".th" + address.substr(address.size() - 4);
}

std::string HomePage() { return kHomePage; }

std::string HomePageWithoutScheme()
{
    const std::string home = kHomePage;
    return home.starts_with("http://") ? home.substr(7) : home;
}

using Snippet = std::string (*)(const std::string& address);

std::string LinkSnippet(const std::string& f) { return f; }

std::string ForumSnippet(const std::string& f) { return "[url=" + HomePage() + "][img]" + f + "[/img][/url]"; }

std::string WebsiteSnippet(const std::string& f)
{
    return "<img alt=\"Use vintrel " + HomePage() + "\" src=\"" + f + "\">";
}

std::string HostedWebsiteSnippet(const std::string& f)
{
    return "<a href=\"" + f + "\" target=\"_blank\"><img src=\"" + ThumbnailAddress(f) +
           "\" border=\"0\" alt=\"Hosted at " + kImageHostSiteName + " and pasted with " +
           HomePageWithoutScheme() + "\" /></a>";
}

std::string HostedForumSnippet1(const std::string& f)
{
    return "[URL=" + f + "][IMG]" + ThumbnailAddress(f) + "[/IMG][/URL]";
}

std::string HostedForumSnippet2(const std::string& f)
{
    return "[url=" + f + "][img=" + ThumbnailAddress(f) + "][/url]";
}

// The Path column of every selected row, top to bottom.
std::vector<std::string> SelectedAddresses(ui::ListView& list)
{
    std::vector<std::string> out;
    for (ui::ListItem* item : list.SelectedItems())
        out.push_back(item->SubItems.at(0));
    return out;
}

// One snippet per selected row on the clipboard, CR LF between them. The
// text is gathered here and put on the clipboard once: reading the clipboard
// back after every row would let a clipboard owner that changes or drops the
// text in between lose the rows before.
void CopySnippets(ui::Application& app, ui::ListView& list, Snippet make)
{
    const std::vector<std::string> addresses = SelectedAddresses(list);
    if (addresses.empty())
        return;
    std::string text;
    for (const std::string& address : addresses) {
        const std::string snippet = make(address);
        text = text.empty() ? snippet : text + "\r\n" + snippet;
    }
    app.SetClipboardText(text);
}

} // namespace

void TvinForm1::Copylink1Click() { CopySnippets(m_program.app, ListView1, LinkSnippet); }
void TvinForm1::Copyforforum1Click() { CopySnippets(m_program.app, ListView1, ForumSnippet); }
void TvinForm1::Copyforwebsite1Click() { CopySnippets(m_program.app, ListView1, WebsiteSnippet); }
void TvinForm1::forWebsites1Click() { CopySnippets(m_program.app, ListView1, HostedWebsiteSnippet); }
void TvinForm1::forforums1Click() { CopySnippets(m_program.app, ListView1, HostedForumSnippet1); }
void TvinForm1::Forforums21Click() { CopySnippets(m_program.app, ListView1, HostedForumSnippet2); }

void TvinForm1::Upload1Click()
{
    // The rows are taken before the first transfer: what the host sends back
    // is added at the end of the list and is not sent again.
    const std::vector<std::string> addresses = SelectedAddresses(ListView1);
    if (!addresses.empty()) {
        m_program.app.SetClipboardText("");
        // An error leaves the command here and reaches the error box; the
        // rows added so far stay in the list and its file.
        for (const std::string& address : addresses) {
            const std::string link =
                beginwithhttp(address) ? transloadtoimageshack(address) : upfiletoimageshack(address);
            // The address goes in as if typed into the enter-address window:
            // its Ok keeps web addresses and complains about short ones.
            m_program.Form4->Edit1.SetText(link);
            m_program.Form4->Button1Click();
        }
    }
    ShowLanguageMessage(m_program, "Done !", "Fait !");
}

void TvinForm1::Openimagehostwebsite1Click()
{
    shell::ShellExecute(Handle, "open", ImageHostFrontPage(), "", "", shell::SW_SHOWNORMAL);
}
