#include "app/TUnPas2.h"

#include <algorithm>
#include <cstring>

#include "platform/session/registry.h"
#include "platform/ui/application.h"
#include "platform/ui/session_link.h"

// ---- the block -------------------------------------------------------------------

namespace CommandLineBlock {

namespace {
void PutShortString(std::vector<std::uint8_t>& block, std::size_t at, const std::string& text)
{
    std::size_t n = std::min<std::size_t>(text.size(), 255);
    block[at] = static_cast<std::uint8_t>(n);
    std::memcpy(block.data() + at + 1, text.data(), n);
}
}

std::vector<std::uint8_t> Build(bool stop, const std::vector<std::string>& args, const std::string& stringUser)
{
    std::vector<std::uint8_t> block(kSize, 0);
    block[kStop] = stop ? 1 : 0;
    // n counts the arguments after the program path, at most 256.
    auto n = static_cast<std::int32_t>(std::min<std::size_t>(args.empty() ? 0 : args.size() - 1, 256));
    for (int i = 0; i < 4; ++i)
        block[kCount + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(n) >> (8 * i));
    for (std::int32_t i = 0; i <= n && static_cast<std::size_t>(i) < args.size(); ++i)
        PutShortString(block, kParams + static_cast<std::size_t>(i) * kEntry, args[static_cast<std::size_t>(i)]);
    PutShortString(block, kStringUser, stringUser);
    return block;
}

} // namespace CommandLineBlock

// ---- the hidden window -------------------------------------------------------------

session::HWND TPourHandle::Handle()
{
    if (!m_handle) {
        m_guard.Link().EnsureHandle(m_guard.OwnerForm);
        m_handle = session::MessagePort::Current().CreateWindow(
            "TPourHandle", m_guard.OwnerForm.Handle, [this](const session::Message& m) -> std::int64_t {
                return m.msg == session::WM_COPYDATA ? WMCopyData(m) : 0;
            });
    }
    return m_handle;
}

TPourHandle::~TPourHandle()
{
    if (m_handle)
        session::MessagePort::Current().DestroyWindow(m_handle);
}

std::int64_t TPourHandle::WMCopyData(const session::Message& m)
{
    using namespace CommandLineBlock;
    // Never past what arrived; a short block is not a command line.
    if (m.data.size() < kSize || !m_guard.OnOtherTryToRun)
        return 0;
    const std::uint8_t* b = m.data.data();
    std::uint32_t raw = 0;
    for (int i = 0; i < 4; ++i)
        raw |= static_cast<std::uint32_t>(b[kCount + i]) << (8 * i);
    auto count = static_cast<std::int32_t>(raw);
    TParamArray params;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const std::uint8_t* entry = b + kParams + i * kEntry;
        params[i].assign(reinterpret_cast<const char*>(entry + 1), entry[0]);
    }
    std::string stringUser(reinterpret_cast<const char*>(b + kStringUser + 1), b[kStringUser]);
    m_guard.OnOtherTryToRun(b[kStop] != 0, std::clamp(count, 0, 256), params, stringUser);
    return 0;
}

// ---- the guard -------------------------------------------------------------------------

TUnPas2::TUnPas2(ui::Form& owner, ui::SessionLink& link, std::vector<std::string> args, std::string programName)
    : OwnerForm(owner), PourHandle(*this), m_link(link), m_args(std::move(args)), m_name(std::move(programName))
{
    ReadInstanceRecord();
    m_mutex = std::make_unique<session::NamedMutex>("UnPas2" + m_name);
    AlreadyRunning = m_mutex->AlreadyExisted();
}

TUnPas2::~TUnPas2()
{
    if (!AlreadyRunning) {
        try {
            DeleteInstanceRecord();
        } catch (...) {
            // The record goes with the program; a registry that fails now
            // leaves a stale one, which the next first copy overwrites.
        }
    }
}

void TUnPas2::Loaded()
{
    if (AlreadyRunning) {
        if (OnDejaLance)
            OnDejaLance();
        SendCommandLine();
        if (StopSiDejaLance) {
            session::ShowWindow(FirstAppHandle, session::SW_SHOWNORMAL);
            session::SetForegroundWindow(FirstFormHandle);
            // Queued: the rest of the start-up still runs before it is taken.
            ui::Application& app = OwnerForm.App();
            app.Post([&app] { app.Terminate(); });
        }
    } else {
        WriteInstanceRecord();
        if (OnPasDejaLance)
            OnPasDejaLance();
    }
}

void TUnPas2::ReadInstanceRecord()
{
    session::Registry reg(session::HKEY_CURRENT_USER);
    if (!reg.OpenKeyReadOnly(KeyName()))
        return;
    // The first value that is missing or not a number ends the reading.
    for (auto [name, target] : {std::pair{m_name + "form1", &FirstFormHandle},
                                std::pair{m_name + "application", &FirstAppHandle},
                                std::pair{m_name + "UnPas2", &FirstPourHandle}}) {
        try {
            *target = static_cast<std::uint32_t>(reg.ReadInteger(name));
        } catch (const session::RegistryError&) {
            break;
        }
    }
    reg.CloseKey();
}

void TUnPas2::WriteInstanceRecord()
{
    // A key that cannot be opened or written: nothing is reported, later
    // copies just cannot reach this one.
    try {
        session::Registry reg(session::HKEY_CURRENT_USER);
        if (!reg.OpenKey(KeyName(), true))
            return;
        m_link.EnsureHandle(OwnerForm);
        reg.WriteInteger(m_name + "form1", static_cast<std::int32_t>(OwnerForm.Handle));
        reg.WriteInteger(m_name + "application", static_cast<std::int32_t>(m_link.ApplicationHandle()));
        reg.WriteInteger(m_name + "UnPas2", static_cast<std::int32_t>(PourHandle.Handle()));
        reg.CloseKey();
    } catch (const session::RegistryError&) {
    }
}

void TUnPas2::DeleteInstanceRecord()
{
    session::Registry reg(session::HKEY_CURRENT_USER);
    if (reg.OpenKeyReadOnly(KeyName())) {
        reg.CloseKey();
        reg.DeleteKey(KeyName());
    }
}

void TUnPas2::SendCommandLine()
{
    auto block = CommandLineBlock::Build(StopSiDejaLance, m_args, StringUser);
    session::SendCopyData(FirstPourHandle, PourHandle.Handle(), 0, block.data(), block.size());
}
