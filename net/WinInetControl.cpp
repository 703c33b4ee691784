#include "net/WinInetControl.h"

#include "net/HttpSession.h"

#include <utility>

namespace {

std::uint32_t AccessTypeOf(TResolveNames resolveNames)
{
    switch (resolveNames) {
    case rnPreConfig:
        return 0;
    case rnProxy:
        return 3;
    case rnLocal:
        break;
    }
    return 1;
}

} // namespace

TWinInetControl::TWinInetControl()
{
    EnsureLibraryInitialised();
}

TWinInetControl::~TWinInetControl()
{
    FDestroying = true;
    FPendingException = nullptr;
    CloseSession();
}

std::uint32_t TWinInetControl::ConnectRetries() const
{
    return FSession ? FSession->ConnectRetries : FConnectRetries;
}

void TWinInetControl::SetConnectRetries(std::uint32_t value)
{
    FConnectRetries = value;
    if (FSession)
        FSession->ConnectRetries = value;
}

void TWinInetControl::SetEnableCache(bool value)
{
    FEnableCache = value;
    SetRequestFlag(ReloadFlag, !value);
}

std::uint32_t TWinInetControl::ConnectTimeout() const
{
    return FSession ? FSession->ConnectTimeout : FConnectTimeout;
}

void TWinInetControl::SetConnectTimeout(std::uint32_t value)
{
    FConnectTimeout = value == 0 ? DefaultConnectTimeout : value;
    if (FSession)
        FSession->ConnectTimeout = FConnectTimeout;
}

void TWinInetControl::SetReceiveTimeout(std::uint32_t value)
{
    FReceiveTimeout = value == 0 ? DefaultReceiveTimeout : value;
}

void TWinInetControl::SetResolveNames(TResolveNames value)
{
    FResolveNames = value;
    FAccessType = AccessTypeOf(value);
}

void TWinInetControl::SetProxyBypassList(const std::vector<std::string>& lines)
{
    FProxyBypassList = lines;
}

void TWinInetControl::SetRequestFlag(std::uint32_t flag, bool on)
{
    FRequestFlags = on ? (FRequestFlags | flag) : (FRequestFlags & ~flag);
}

std::string TWinInetControl::StateText() const
{
    switch (FState) {
    case wisDisconnecting:
        return "Disconnecting from " + HostName;
    case wisNotConnected:
        return "No connection";
    case wisConnecting:
        return "Connecting to " + HostName;
    case wisConnected:
        return "Connected to " + HostName;
    case wisResolving:
        return "Resolving name " + HostName;
    case wisResolved:
        return "Resolved name " + HostName;
    }
    return "Unknown state!  Contact support ...";
}

std::string TWinInetControl::LastResponseText() const
{
    return FLastResponseText.empty() ? "No error description available" : FLastResponseText;
}

void TWinInetControl::Cancel()
{
    FCancelled.store(true);
    std::lock_guard lock(FWakeMutex);
    if (FWakeHandle != nullptr)
        curl_multi_wakeup(FWakeHandle);
}

bool TWinInetControl::SetState(TWinInetState newState)
{
    if (newState == FState)
        return false;
    FState = newState;
    if (FDestroying)
        return true;
    if (OnStateChange)
        OnStateChange(*this, newState);
    if (QuickProgress && QuickStatus != nullptr)
        QuickStatus->ShowStatusText(StateText());
    return true;
}

void TWinInetControl::StatusChanged(std::uint32_t status, const std::string&)
{
    switch (status) {
    case InternetStatus::ResolvingName:
        SetState(wisResolving);
        break;
    case InternetStatus::NameResolved:
        SetState(wisResolved);
        break;
    case InternetStatus::ConnectingToServer:
        SetState(wisConnecting);
        break;
    case InternetStatus::ConnectedToServer:
        SetState(wisConnected);
        break;
    case InternetStatus::ClosingConnection:
        SetState(wisDisconnecting);
        break;
    case InternetStatus::ConnectionClosed:
        SetState(wisNotConnected);
        break;
    default:
        break;
    }
}

void TWinInetControl::RaiseConnectError(std::uint32_t code)
{
    SetState(wisNotConnected);
    if (SilentExceptions)
        return;
    switch (code) {
    case InternetError::Timeout:
        throw EWinInetError("Connection to " + HostName + " timed out");
    case InternetError::InternalError:
        throw EWinInetError("Internal WININET error");
    case InternetError::NameNotResolved:
        throw EWinInetError("Unable to resolve host name '" + HostName + "'");
    case InternetError::IncorrectUserName:
        throw EWinInetError("Bad user name: '" + UserName + "' connecting to " + HostName);
    case InternetError::IncorrectPassword:
        throw EWinInetError("Bad password connecting to " + HostName);
    case InternetError::LoginFailure:
    case InternetError::CannotConnect:
        throw EWinInetError("Unable to connect to " + HostName);
    default:
        throw EWinInetError("General Connection Error to " + HostName);
    }
}

bool TWinInetControl::OpenConnection()
{
    if (FState == wisConnected)
        return true;
    if (!FSession) {
        auto session = std::make_unique<TInternetSession>();
        if (session->Multi != nullptr) {
            session->AccessType = FAccessType;
            if (FResolveNames == rnProxy)
                session->ProxyName = ProxyName;
            session->ProxyBypassList = FProxyBypassList;
            FSession = std::move(session);
            std::lock_guard lock(FWakeMutex);
            FWakeHandle = FSession->Multi;
        }
    }
    if (FSession) {
        FSession->ConnectRetries = FConnectRetries;
        FSession->ConnectTimeout = FConnectTimeout;
    }
    return false;
}

bool TWinInetControl::CloseConnection()
{
    if (FInLibrary > 0)
        return false;
    CloseSession();
    if (!FDestroying)
        SetState(wisNotConnected);
    return true;
}

void TWinInetControl::CloseSession()
{
    if (!FSession)
        return;
    {
        std::lock_guard lock(FWakeMutex);
        FWakeHandle = nullptr;
    }
    // Shut down while still reachable: the connections closed now are reported as closed.
    {
        TLibraryCall call(FInLibrary);
        FSession->Shutdown();
    }
    FSession.reset();
    RethrowPending();
}

void TWinInetControl::RethrowPending()
{
    if (FPendingException)
        std::rethrow_exception(std::exchange(FPendingException, nullptr));
}
