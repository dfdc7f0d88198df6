#include "app/TvinForm1.h"

#include <algorithm>
#include <cstring>

#include "app/Program.h"
#include "delivery/preview.h"
#include "list/TForm4.h"
#include "list/TForm5.h"
#include "list/TForm6.h"
#include "platform/image/image.h"
#include "platform/session/session.h"
#include "platform/shell/shell.h"
#include "platform/ui/session_link.h"
#include "platform/sys/files.h"
#include "platform/sys/text.h"
#include "settings/TForm2.h"
#include "settings/TForm3.h"
#include "settings/colorfile.h"
#include "settings/language.h"
#include "settings/options.h"
#include "sharing/TForm7.h"
#include "sharing/imagehost.h"
#include "sharing/wallpaper.h"

const char* const kHomePage = "http://www.vintrel.example/";

namespace {
constexpr int kMargin = 20;
constexpr int kNameWidth = 79, kPathWidth = 150;
constexpr unsigned kTrayCallback = session::WM_USER + 1;   // 1025
constexpr std::uint32_t kProgramIcon = 1;
}

std::string ProgramTitle(const std::string& programPath)
{
    std::string name = programPath.substr(programPath.find_last_of('/') + 1);
    name = name.substr(0, name.find('.'));
    if (name.size() > 1)
        name = name.substr(0, 1) + sys::LowerAscii(name.substr(1));
    return name;
}

std::string EntryName(const std::string& entry)
{
    // Reading "/" as "\" and cutting after the last "\" or ":" is cutting
    // after the last of the three.
    auto cut = entry.find_last_of("/\\:");
    return cut == std::string::npos ? entry : entry.substr(cut + 1);
}

TvinForm1::TvinForm1(Program& program)
    : ui::Form(program.app, "vinForm1", "TvinForm1"),
      GroupBox2(this, "GroupBox2"),
      Image1(&GroupBox2, "Image1"),
      webbrowser1(&GroupBox2, "webbrowser1"),
      GroupBox1(this, "GroupBox1"),
      JvXPButton5(&GroupBox1, "JvXPButton5"),
      JvXPButton6(&GroupBox1, "JvXPButton6"),
      JvXPButton7(&GroupBox1, "JvXPButton7"),
      JvXPButton8(&GroupBox1, "JvXPButton8"),
      JvXPButton4(&GroupBox1, "JvXPButton4"),
      JvXPButton1(&GroupBox1, "JvXPButton1"),
      JvXPButton3(&GroupBox1, "JvXPButton3"),
      JvXPButton2(&GroupBox1, "JvXPButton2"),
      JvXPButton9(&GroupBox1, "JvXPButton9"),
      ListView1(this, "ListView1"),
      Label1(this, "Label1"),
      PopupMenu1(*this, "PopupMenu1"),
      Delete1(PopupMenu1.Add("Delete1", "Delete")),
      Use1(PopupMenu1.Add("Use1", "Load on Gsm !")),
      Copy1(PopupMenu1.Add("Copy1", "Copy")),
      Copylink1(Copy1.Add("Copylink1", "Copy link")),
      Copyforforum1(Copy1.Add("Copyforforum1", "Copy for forum")),
      Copyforwebsite1(Copy1.Add("Copyforwebsite1", "Copy for website")),
      imagehost1(PopupMenu1.Add("imagehost1", "On " + ImageHostDomain() + " ")),
      Openimagehostwebsite1(imagehost1.Add("Openimagehostwebsite1", "Open " + ImageHostDomain() + " website")),
      Copylink2(imagehost1.Add("Copylink2", "If the link is hosted on " + ImageHostDomain() + ":")),
      forWebsites1(imagehost1.Add("forWebsites1", "Copy for Websites")),
      forforums1(imagehost1.Add("forforums1", "Copy for forums 1")),
      Forforums21(imagehost1.Add("Forforums21", "Copy for forums 2")),
      Youneedtopastedirectlinktoimageonly1(imagehost1.Add("Youneedtopastedirectlinktoimageonly1", "And if not:")),
      Upload1(imagehost1.Add("Upload1", "Upload/Transload to " + ImageHostDomain())),
      Addweblink1(PopupMenu1.Add("Addweblink1", "Add a weblink")),
      Addalocalfile1(PopupMenu1.Add("Addalocalfile1", "Add a local file")),
      SetasWallpaper1(PopupMenu1.Add("SetasWallpaper1", "Set as Wallpaper")),
      PopupMenu2(*this, "PopupMenu2"),
      truc1(PopupMenu2.Add("truc1", "Show")),
      chouette1(PopupMenu2.Add("chouette1", "Close")),
      m_program(program)
{
    // A small window of fixed size: the picture frame, the buttons, the list.
    SetCaption("Vin Trel  v1.3");
    SetBounds(254, 119, 259, 418);
    Resizable = false;
    PaintedCaption = ui::Form::GradientCaption{ui::clGray, "Vin Trel  v1.3"};
    ContextMenu = &PopupMenu1;
    SetColor(13677484);

    GroupBox2.SetBounds(8, 9, 233, 150);
    GroupBox2.SetColor(ui::clBtnText);
    Image1.SetBounds(0, 0, 233, 150);
    Image1.SetCenter(true);
    Image1.SetProportional(true);
    Image1.SetStretch(true);
    webbrowser1.SetBounds(1, 0, 0, 155);

    GroupBox1.SetBounds(8, 160, 233, 73);
    struct ButtonDesign {
        ui::Button& button;
        int left, top, width, height;
        const char* caption;
    };
    for (const ButtonDesign& b : {
             ButtonDesign{JvXPButton5, 8, 16, 41, 17, "Options"},
             ButtonDesign{JvXPButton6, 52, 16, 43, 17, "Colors"},
             ButtonDesign{JvXPButton7, 100, 16, 41, 17, "Tools"},
             ButtonDesign{JvXPButton8, 144, 16, 17, 17, "H"},
             ButtonDesign{JvXPButton4, 162, 16, 66, 50, "2gsm"},
             ButtonDesign{JvXPButton1, 8, 40, 81, 25, "Search Picture"},
             ButtonDesign{JvXPButton3, 96, 40, 25, 25, "+"},
             ButtonDesign{JvXPButton2, 128, 40, 25, 25, "-"},
             ButtonDesign{JvXPButton9, 212, 50, 13, 13, "s"},
         }) {
        b.button.SetBounds(b.left, b.top, b.width, b.height);
        b.button.SetCaption(b.caption);
    }

    ListView1.SetBounds(8, 240, 233, 134);
    ListView1.SetColor(12435644);
    ListView1.MultiSelect = true;
    ListView1.AddColumn("Name", kNameWidth);
    ListView1.AddColumn("Path", kPathWidth);
    Label1.SetVisible(false);
    Copylink2.SetEnabled(false);
    Youneedtopastedirectlinktoimageonly1.SetEnabled(false);

    OnCreate = [this] { FormCreate(); };
    OnMessage = [this](const session::Message& m, std::int64_t&) {
        if (m.msg == kTrayCallback) {
            TrayCallback(m.lParam);
            return true;
        }
        return DefaultHandler(m);
    };
    truc1.OnClick = [this] { truc1Click(); };
    chouette1.OnClick = [this] { chouette1Click(); };
    m_program.app.OnMinimize = [this] { ApplicationEvents1Minimize(); };
    m_program.app.OnActivate = [this] { ApplicationEvents1Activate(); };
    OnActivate = [this] { FormActivate(); };
    OnDestroy = [this] { FormDestroy(); };
    JvXPButton8.OnClick = [this] { JvXPButton8Click(); };
    JvXPButton5.OnClick = [this] { JvXPButton5Click(); };
    JvXPButton6.OnClick = [this] { JvXPButton6Click(); };
    JvXPButton7.OnClick = [this] { JvXPButton7Click(); };
    JvXPButton2.OnClick = [this] { JvXPButton2Click(); };
    JvXPButton3.OnClick = [this] { JvXPButton3Click(); };
    Delete1.OnClick = [this] { Delete1Click(); };
    ListView1.OnColumnClick = [this](int column) { ListView1ColumnClick(column); };
    ListView1.OnSelectItem = [this](ui::ListItem& item, bool selected) { ListView1SelectItem(item, selected); };
    webbrowser1.OnDocumentComplete = [this](const std::string& url) { webbrowser1DocumentComplete(url); };
    JvXPButton1.OnClick = [this] { JvXPButton1Click(); };
    Addweblink1.OnClick = [this] { Addweblink1Click(); };
    Addalocalfile1.OnClick = [this] { Addalocalfile1Click(); };
    SetasWallpaper1.OnClick = [this] { SetasWallpaper1Click(); };
    JvXPButton4.OnClick = [this] { JvXPButton4Click(); };
    Use1.OnClick = [this] { Use1Click(); };
    JvXPButton9.OnClick = [this] { JvXPButton9Click(); };
    PopupMenu1.OnPopup = [this] { PopupMenu1Popup(); };
    Copylink1.OnClick = [this] { Copylink1Click(); };
    Copyforforum1.OnClick = [this] { Copyforforum1Click(); };
    Copyforwebsite1.OnClick = [this] { Copyforwebsite1Click(); };
    forWebsites1.OnClick = [this] { forWebsites1Click(); };
    forforums1.OnClick = [this] { forforums1Click(); };
    Forforums21.OnClick = [this] { Forforums21Click(); };
    Upload1.OnClick = [this] { Upload1Click(); };
    Openimagehostwebsite1.OnClick = [this] { Openimagehostwebsite1Click(); };
}

TvinForm1::~TvinForm1() = default;

// ---- lifetime ------------------------------------------------------------------

void TvinForm1::FormCreate()
{
    TrayIconData = {};
    TrayIconData.cbSize = sizeof TrayIconData;
    TrayIconData.hWnd = Handle;
    TrayIconData.uID = 0;
    TrayIconData.uFlags = session::NIF_MESSAGE | session::NIF_ICON | session::NIF_TIP;
    TrayIconData.uCallbackMessage = kTrayCallback;
    TrayIconData.hIcon = kProgramIcon;
    std::string tip = ProgramTitle(m_program.args.empty() ? std::string("vintrel") : m_program.args[0]);
    std::memcpy(TrayIconData.szTip, tip.data(), std::min<size_t>(tip.size(), sizeof TrayIconData.szTip - 1));
    session::Shell_NotifyIcon(session::NIM_ADD, &TrayIconData);

    NewDownloadMessage = session::RegisterWindowMessage("Vintrel.WM_NEWDOWNLOAD");

    // The command line becomes one line of the list file: an address alone,
    // or every argument joined with single blanks, which gives back a path
    // that the shell passed split at its blanks.
    const auto& args = m_program.args;
    if (args.size() > 1) {
        StartPrefix.clear();
        if (args[1].size() > 7)
            StartPrefix = args[1].substr(0, 7);
        std::string line;
        if (StartPrefix == "http://") {
            line = args[1];
        } else {
            for (size_t i = 1; i < args.size(); ++i)
                line += (i > 1 ? " " : "") + args[i];
        }
        sys::AppendToFile(m_program.PathOf("files.ini"), line + "\r\n");
    }
}

void TvinForm1::FormActivate()
{
    if (!m_program.Form6->Visible()) {
        if (!OptionsFileExists(m_program)) {
            JvXPButton5Click();
        } else if (ListView1.Count() == 0) {
            readoptions(m_program);
            moui(m_program);
            loadlist();
        }
        readcolorfile(m_program.PathOf("color.ini"), [this](int index, ui::TColor color) {
            if (index == 0)
                SetColor(color);
            else if (index == 1)
                GroupBox2.SetColor(color);
            else
                ListView1.SetColor(color);
        });
    }
    if (ListView1.Count() > 0) {
        adresizescroll(0);
        adresizescroll(1);
    }
}

void TvinForm1::FormDestroy()
{
    session::Shell_NotifyIcon(session::NIM_DELETE, &TrayIconData);
}

// ---- the tray and pictures from outside ------------------------------------------------

void TvinForm1::TrayCallback(std::int64_t mouseMessage)
{
    if (mouseMessage == session::WM_LBUTTONDOWN) {
        Show();
        m_program.app.Restore();
        m_program.app.BringToFront();
    } else if (mouseMessage == session::WM_RBUTTONDOWN) {
        session::SetForegroundWindow(m_program.sessionLink->ApplicationHandle());
        session::POINT where;
        session::GetCursorPos(&where);
        m_program.app.ProcessMessages();
        PopupMenu2.Popup(where.x, where.y);
    }
}

// A picture address posted from outside: the atom's text goes through the
// enter-address window's Ok, without showing the window.
bool TvinForm1::DefaultHandler(const session::Message& m)
{
    if (m.msg != NewDownloadMessage || NewDownloadMessage == 0)
        return false;
    char buffer[255];
    auto atom = static_cast<session::ATOM>(m.wParam & 0xFFFF);
    session::GlobalGetAtomName(atom, buffer, sizeof buffer);
    session::GlobalDeleteAtom(atom);
    m_program.Form4->Edit1.SetText(buffer);
    m_program.Form4->Button1Click();
    return true;
}

void TvinForm1::truc1Click()
{
    Show();
    m_program.app.Restore();
}

void TvinForm1::chouette1Click() { Close(); }

// Minimised, the program lives in the tray only.
void TvinForm1::ApplicationEvents1Minimize() { Hide(); }

// Started with an address (as the browser add-in starts it), the program
// goes to the tray at its first activation.
void TvinForm1::ApplicationEvents1Activate()
{
    if (StartPrefix == "http://")
        Hide();
    StartPrefix.clear();
}

void TvinForm1::UnPas21OtherTryToRun(bool, std::int32_t ParamCount, TParamArray& ParamArray, std::string&)
{
    loadlist();
    std::string joined;
    for (std::int32_t i = 1; i <= ParamCount; ++i)
        joined += (i > 1 ? " " : "") + ParamArray[static_cast<size_t>(i)];
    // The Name is cut after the last "\" or ":" without reading "/" as "\",
    // so an address keeps its slashes; a local path (no ":" here) is cut at
    // its last "/", the folder separator of this platform.
    auto cut = joined.find_last_of("\\:");
    if (cut == std::string::npos)
        cut = joined.find_last_of('/');
    ListView1.AddItem(cut == std::string::npos ? joined : joined.substr(cut + 1), {joined});
    Show();
    m_program.app.Restore();
}

void TvinForm1::JvXPButton8Click()
{
    shell::ShellExecute(Handle, "", kHomePage, "", "", shell::SW_SHOWNORMAL);
}

// ---- the preview ----------------------------------------------------------------

void TvinForm1::ListView1SelectItem(ui::ListItem&, bool)
{
    if (ListView1.SelCount() != 1)
        return;
    try {
        // The focused row decides; a remote preview shows the selected one.
        ui::ListItem* focused = ListView1.ItemFocused();
        if (!focused)
            throw sys::Error("no row has the focus");
        const std::string path = focused->SubItems.at(0);
        if (path.compare(0, 7, "http://") == 0 || !sys::FileExists(path)) {
            SetasWallpaper1.SetEnabled(false);
            webbrowser1.SetWidth(235);
            Label1.SetCaption(ListView1.Selected()->SubItems.at(0));
            webbrowser1.Navigate(Label1.Caption());
        } else {
            Label1.SetCaption(path);
            Image1.SetPicture(img::LoadPictureByExtension(path));
            webbrowser1.SetWidth(0);
            SetasWallpaper1.SetEnabled(true);
            SendInvitationOnSelection(m_program);
        }
    } catch (const std::exception&) {
        ShowLanguageMessage(m_program, "Unsupported as local file", "Chargement non possible en fichier local");
    }
}

// A picture page shows its first picture at the frame's width.
void TvinForm1::webbrowser1DocumentComplete(const std::string&)
{
    browser::Document* document = webbrowser1.GetDocument();
    if (document && document->Images().Count() > 0)
        document->Images().Item(0).SetWidth(190);
}

void TvinForm1::JvXPButton1Click() { m_program.Form5->Show(); }
void TvinForm1::Addweblink1Click() { m_program.Form4->Show(); }
void TvinForm1::Addalocalfile1Click() { m_program.Form6->localtruc(); }

void TvinForm1::JvXPButton5Click() { m_program.Form3->Show(); }
void TvinForm1::JvXPButton6Click() { m_program.Form2->Show(); }
void TvinForm1::JvXPButton7Click() { m_program.Form7->Show(); }

// ---- sharing ----------------------------------------------------------------------

// The highest selected row in the list; with none selected there is nothing
// to act on, as with the share commands.
void TvinForm1::SetasWallpaper1Click()
{
    if (ui::ListItem* row = ListView1.Selected())
        SetAsWallpaper(m_program, row->SubItems.at(0));
}

// ---- the picture list -------------------------------------------------------------

ui::ListItem& TvinForm1::AddRow(const std::string& entry)
{
    return ListView1.AddItem(EntryName(entry), {entry});
}

std::string TvinForm1::ListText()
{
    std::string content;
    for (int i = 0; i < ListView1.Count(); ++i)
        content += ListView1.Item(i).SubItems.at(0) + "\r\n";
    return content;
}

void TvinForm1::WriteListFile()
{
    // Written to a temporary file and renamed over the old one, so a failed
    // rewrite leaves the old list whole.
    sys::WriteFileAtomic(m_program.PathOf("files.ini"), ListText());
}

void TvinForm1::loadlist()
{
    const std::string file = m_program.PathOf("files.ini");
    if (!sys::FileExists(file))
        return;
    std::vector<std::string> lines = sys::ReadLines(file);
    ListView1.Clear();
    for (auto& line : lines)
        if (line.size() > 7) {
            std::string name = EntryName(line);
            ListView1.AddItem(std::move(name), {std::move(line)});
        }
    if (ListView1.Count() == 0)
        return;
    adresizescroll(0);
    adresizescroll(1);

    const std::string path = ListView1.Item(0).SubItems.at(0);
    if (path.compare(0, 7, "http://") != 0 && sys::FileExists(path)) {
        Label1.SetCaption(path);
        Image1.SetPicture(img::LoadPictureByExtension(path));
    } else {
        webbrowser1.SetWidth(235);
        Label1.SetCaption(path);
        webbrowser1.Navigate(Label1.Caption());
    }
}

void TvinForm1::remmove()
{
    if (ListView1.SelCount() == 0)
        return;
    deltruc();
    WriteListFile();
}

void TvinForm1::deltruc()
{
    ListView1.DeleteIf([](const ui::ListItem& row) { return row.Selected(); });
    remresizescroll(0);
    remresizescroll(1);
}

void TvinForm1::adresizescroll(int column)
{
    if (ListView1.Count() == 0)
        return;
    const ui::ListItem& last = ListView1.Item(ListView1.Count() - 1);
    if (column == 0) {
        int wanted = m_program.app.TextWidth(ListView1, last.Caption) + kMargin;
        if (ListView1.Columns()[0].Width < wanted)
            ListView1.SetColumnWidth(0, wanted);
    } else {
        int width = m_program.app.TextWidth(ListView1, last.SubItems.at(0));
        if (width > kMargin)
            ListView1.SetColumnWidth(1, width + kMargin);
    }
}

void TvinForm1::remresizescroll(int column)
{
    int widest = 0;
    for (int i = 0; i < ListView1.Count(); ++i) {
        const ui::ListItem& row = ListView1.Item(i);
        widest = std::max(widest, m_program.app.TextWidth(ListView1, column == 0 ? row.Caption : row.SubItems.at(0)));
    }
    ListView1.SetColumnWidth(column == 0 ? 0 : 1, widest + kMargin);
    if (ListView1.Count() == 0) {
        ListView1.SetColumnWidth(0, kNameWidth);
        ListView1.SetColumnWidth(1, kPathWidth);
    }
}

void TvinForm1::ListView1ColumnClick(int)
{
    // Always ascending by Name, whichever column was clicked.
    ListView1.Sort([](const ui::ListItem& a, const ui::ListItem& b) { return sys::CompareCollated(a.Caption, b.Caption); });
}

void TvinForm1::JvXPButton2Click() { remmove(); }
void TvinForm1::Delete1Click() { remmove(); }

void TvinForm1::JvXPButton3Click() { m_program.Form6->Show(); }
