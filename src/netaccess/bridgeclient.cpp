#include "netaccess/bridgeclient.h"

#ifdef _WIN32

#include "netaccess/bridgewire.h"
#include "netaccess/sondaio_calls.h"
#include "registry/cp1252.h"

#include <QByteArray>
#include <QDir>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

namespace {

std::wstring wide(const QString &text) { return text.toStdWString(); }

// The message a call that opens or closes a port leaves when the bridge is
// gone, so the user reads why the port is not there.
QString lostMessage()
{
    return QStringLiteral(
        "Se ha perdido la comunicación con el programa puente de la librería de acceso a la red.");
}

class BridgedCalls final : public LibraryCalls {
public:
    BridgedCalls(QString program, QString library, int answerMs)
        : program_(std::move(program)), library_(std::move(library)),
          answerMs_(std::max(answerMs, 1))
    {
    }
    ~BridgedCalls() override
    {
        end();
        if (event_)
            CloseHandle(event_);
    }

    BridgeStart::Status start(BridgeStart &why);
    std::int16_t invoke(const Invocation &c) override;
    unsigned long process() const override { return process_ ? pid_ : 0; }

private:
    bool running();
    BridgeStart::Status silence(ULONGLONG deadline, BridgeStart &why);
    bool exchange(const wire_frame &request, wire_frame &answer);
    DWORD transfer(bool out, unsigned char *bytes, DWORD size, ULONGLONG deadline);
    bool send(const wire_frame &frame, ULONGLONG deadline);
    bool receive(wire_frame &frame, ULONGLONG deadline);
    std::int16_t lost(const Invocation &c);
    void end(bool patient = true);

    QString program_;
    QString library_;
    int answerMs_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE process_ = nullptr;
    HANDLE event_ = nullptr;
    DWORD pid_ = 0;
    std::uint16_t seq_ = 0;
    std::map<std::int16_t, QByteArray>
        open_; // ports opened, with their names, to open again in a new bridge
};

// A pipe of our own, one end for the bridge, which it finds on its command
// line; ours is overlapped so every wait can also watch the bridge end.
bool makePipe(HANDLE &ours, HANDLE &theirs)
{
    static std::atomic<unsigned> serial{0};
    const QString name = QStringLiteral("\\\\.\\pipe\\climalog-sondaio-%1-%2-%3")
                             .arg(GetCurrentProcessId())
                             .arg(++serial)
                             .arg(GetTickCount64());
    ours = CreateNamedPipeW(
        wide(name).c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        WIRE_FRAME_MAX, WIRE_FRAME_MAX, 0, nullptr);
    if (ours == INVALID_HANDLE_VALUE)
        return false;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    theirs = CreateFileW(wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherit,
                         OPEN_EXISTING, 0, nullptr);
    if (theirs == INVALID_HANDLE_VALUE) {
        CloseHandle(ours);
        ours = INVALID_HANDLE_VALUE;
        return false;
    }
    return true;
}

BridgeStart::Status BridgedCalls::start(BridgeStart &why)
{
    if (!event_)
        event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE theirs = INVALID_HANDLE_VALUE;
    if (!event_ || !makePipe(pipe_, theirs)) {
        why.systemError = GetLastError();
        return BridgeStart::Status::NoProgram;
    }
    // The library's standard handles (the bridge's) lead nowhere: what it
    // prints is lost, as in a program without a console.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE nowhere =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nowhere;
    const QString program = QDir::toNativeSeparators(program_);
    std::wstring commandLine = wide(QStringLiteral("\"%1\" %2 \"%3\"")
                                        .arg(program)
                                        .arg(quintptr(theirs))
                                        .arg(QDir::toNativeSeparators(library_)));
    PROCESS_INFORMATION info{};
    const BOOL created = CreateProcessW(wide(program).c_str(), commandLine.data(), nullptr, nullptr,
                                        TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
    why.systemError = GetLastError();
    CloseHandle(theirs);
    if (nowhere != INVALID_HANDLE_VALUE)
        CloseHandle(nowhere);
    if (!created) {
        end();
        return BridgeStart::Status::NoProgram;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;

    wire_frame greeting{};
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(answerMs_);
    if (!receive(greeting, deadline) || greeting.call != BRIDGE_GREETING) {
        why.systemError = 0;
        const BridgeStart::Status status = silence(deadline, why);
        end(false);
        return status;
    }
    switch (greeting.value) {
    case 0:
        return BridgeStart::Status::Started;
    case BRIDGE_NO_CALL:
        why.missingCall = std::clamp<int>(greeting.out1, 1, SONDAIO_CALL_COUNT);
        end();
        return BridgeStart::Status::NoCall;
    default:
        why.systemError = static_cast<unsigned long>(greeting.count);
        end();
        return BridgeStart::Status::NoLibrary;
    }
}

// Why a bridge that started never greeted: it ended (the pipe breaks just
// before the process ends, so that is waited for a moment), it let the time
// pass, or it sent something else.
BridgeStart::Status BridgedCalls::silence(ULONGLONG deadline, BridgeStart &why)
{
    DWORD code = 0;
    if (WaitForSingleObject(process_, 500) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process_, &code)) {
        why.exitCode = code;
        return BridgeStart::Status::Ended;
    }
    return GetTickCount64() >= deadline ? BridgeStart::Status::Silent
                                        : BridgeStart::Status::Garbled;
}

// One read or write on the pipe, waiting for it, the bridge's end or the
// deadline, whichever comes first; the bytes moved, 0 when none can be.
DWORD BridgedCalls::transfer(bool out, unsigned char *bytes, DWORD size, ULONGLONG deadline)
{
    OVERLAPPED o{};
    o.hEvent = event_;
    const BOOL done = out ? WriteFile(pipe_, bytes, size, nullptr, &o)
                          : ReadFile(pipe_, bytes, size, nullptr, &o);
    if (!done && GetLastError() != ERROR_IO_PENDING)
        return 0;
    DWORD woke = WAIT_OBJECT_0;
    if (!done) {
        const ULONGLONG now = GetTickCount64();
        const DWORD wait =
            now >= deadline ? 0 : DWORD(std::min<ULONGLONG>(deadline - now, INFINITE - 1));
        const HANDLE both[2] = {event_, process_};
        woke = WaitForMultipleObjects(2, both, FALSE, wait);
        if (woke != WAIT_OBJECT_0)
            CancelIo(pipe_);
    }
    DWORD moved = 0;
    // After a cancel this waits for the cancel to land: the buffer is ours
    // again before we return.
    const BOOL ok = GetOverlappedResult(pipe_, &o, &moved, TRUE);
    return woke == WAIT_OBJECT_0 && ok ? moved : 0;
}

bool BridgedCalls::send(const wire_frame &frame, ULONGLONG deadline)
{
    unsigned char bytes[WIRE_FRAME_MAX];
    const std::size_t size = wire_encode(&frame, bytes);
    for (std::size_t sent = 0; sent < size;) {
        const DWORD moved = transfer(true, bytes + sent, DWORD(size - sent), deadline);
        if (moved == 0)
            return false;
        sent += moved;
    }
    return true;
}

// A whole frame, read in as few reads as the pipe allows: the bridge answers
// one request at a time, so nothing follows it.
bool BridgedCalls::receive(wire_frame &frame, ULONGLONG deadline)
{
    unsigned char bytes[WIRE_FRAME_MAX];
    std::size_t have = 0;
    std::size_t length = 0;
    while (have < 4 || have < 4 + length) {
        const DWORD moved = transfer(false, bytes + have, DWORD(sizeof bytes - have), deadline);
        if (moved == 0)
            return false;
        have += moved;
        if (have >= 4 && wire_body_length(bytes, &length) != 0)
            return false;
    }
    return have == 4 + length && wire_decode(bytes + 4, length, &frame) == 0;
}

bool BridgedCalls::exchange(const wire_frame &request, wire_frame &answer)
{
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(answerMs_);
    if (!send(request, deadline) || !receive(answer, deadline))
        return false;
    // An answer to another call, or with other buffers, is a bridge gone
    // wrong: none of it reaches the program.
    if (answer.call != request.call || answer.seq != request.seq ||
        answer.buffers != request.buffers)
        return false;
    for (int k = 0; k < request.buffers; ++k)
        if (answer.length[k] != request.length[k])
            return false;
    return true;
}

// The bridge is there for a call: a dead one is replaced, and the ports the
// program had opened are opened again in the new one. (A write to the pipe
// of a bridge that has ended does not always fail, so its end is asked.)
bool BridgedCalls::running()
{
    if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT)
        return true;
    end();
    BridgeStart ignored;
    if (start(ignored) != BridgeStart::Status::Started)
        return false;
    for (const auto &[port, name] : open_) {
        wire_frame request{};
        request.call = SONDAIO_INICIAR;
        request.seq = ++seq_;
        request.value = port;
        request.buffers = 2;
        request.length[0] = std::uint16_t(name.size());
        std::memcpy(request.data[0], name.constData(), std::size_t(name.size()));
        request.length[1] = SONDAIO_MSG_LEN + 1;
        wire_frame answer;
        if (!exchange(request, answer)) {
            end(false);
            return false;
        }
    }
    return true;
}

std::int16_t BridgedCalls::lost(const Invocation &c)
{
    const int message = c.call == SONDAIO_INICIAR ? 1 : c.call == SONDAIO_FINALIZAR ? 0 : -1;
    if (message >= 0) {
        const std::string text = cp1252::encode(lostMessage());
        std::memset(c.data[message], 0, SONDAIO_MSG_LEN);
        std::memcpy(c.data[message], text.data(),
                    std::min<std::size_t>(text.size(), SONDAIO_MSG_LEN));
    }
    return 0;
}

std::int16_t BridgedCalls::invoke(const Invocation &c)
{
    if (c.call == SONDAIO_FINALIZAR &&
        !(process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT)) {
        // A bridge that is gone took the port with it: nothing to close.
        open_.erase(c.port);
        return 0;
    }
    if (!running())
        return lost(c);
    wire_frame request{};
    request.call = std::uint16_t(c.call);
    request.seq = ++seq_;
    request.value = c.port;
    request.out1 = c.out1;
    request.out2 = c.out2;
    request.count = c.count;
    request.buffers = std::uint8_t(sondaio_call_table[c.call].buffers);
    for (int k = 0; k < request.buffers; ++k) {
        request.length[k] = std::uint16_t(std::min<std::size_t>(c.size[k], WIRE_BUFFER_MAX));
        std::memcpy(request.data[k], c.data[k], request.length[k]);
    }
    wire_frame answer;
    if (!exchange(request, answer)) {
        end(false);
        return lost(c);
    }
    for (int k = 0; k < answer.buffers; ++k)
        std::memcpy(c.data[k], answer.data[k], answer.length[k]);
    if (c.call == SONDAIO_INICIAR && answer.value > 0)
        open_[c.port] =
            QByteArray(reinterpret_cast<const char *>(request.data[0]), request.length[0]);
    if (c.call == SONDAIO_FINALIZAR)
        open_.erase(c.port);
    return answer.value;
}

// Closing the pipe ends the bridge's loop, and the library is unloaded as
// it expects; a bridge that failed a call, or does not end soon (a call stuck
// in the library), is ended at once.
void BridgedCalls::end(bool patient)
{
    if (pipe_ != INVALID_HANDLE_VALUE) {
        CloseHandle(pipe_);
        pipe_ = INVALID_HANDLE_VALUE;
    }
    if (!process_)
        return;
    if (WaitForSingleObject(process_, patient ? 2000 : 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, INFINITE);
    }
    CloseHandle(process_);
    process_ = nullptr;
    pid_ = 0;
}

} // namespace

BridgeStart startBridge(const QString &program, const QString &library, int answerMs)
{
    BridgeStart result;
    auto calls = std::make_unique<BridgedCalls>(program, library, answerMs);
    result.status = calls->start(result);
    if (result.status == BridgeStart::Status::Started)
        result.calls = std::move(calls);
    return result;
}

#endif
