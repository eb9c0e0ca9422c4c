/* The bridge: a small process of the network library's own width (32-bit
 * for the maker's library) that loads the library and makes its calls for
 * the program, one request at a time, over the pipe the program handed it.
 * It ends when the program closes the pipe.
 *
 * The pipe is not the standard input and output: those are the library's
 * too, and whatever it prints (a banner when loaded, a line from a call)
 * must never reach the frames. The program gives the bridge nothing there
 * (the null device) and names the pipe's inherited handle on the command
 * line.
 *
 * usage: bridge PIPE_HANDLE LIBRARY_PATH */
#include "bridgewire.h"
#include "sondaio_calls.h"

#include <wchar.h>
#include <windows.h>

static HANDLE g_pipe;

static int write_frame(const struct wire_frame *f)
{
    unsigned char bytes[WIRE_FRAME_MAX];
    size_t size = wire_encode(f, bytes);
    const unsigned char *p = bytes;
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(g_pipe, p, (DWORD)size, &put, NULL) || put == 0)
            return -1;
        p += put;
        size -= put;
    }
    return 0;
}

/* A whole frame, in as few reads as the pipe allows: the program sends one
 * request at a time, so nothing follows it. */
static int read_frame(struct wire_frame *f)
{
    unsigned char bytes[WIRE_FRAME_MAX];
    size_t have = 0;
    size_t length = 0;
    while (have < 4 || have < 4 + length) {
        DWORD got = 0;
        if (!ReadFile(g_pipe, bytes + have, (DWORD)(sizeof bytes - have), &got, NULL) || got == 0)
            return -1;
        have += got;
        if (have >= 4 && wire_body_length(bytes, &length) != 0)
            return -1;
    }
    return have == 4 + length ? wire_decode(bytes + 4, length, f) : -1;
}

/* A request the library can be given without writing past a buffer: the
 * call's buffers at their sizes, a NUL-ended port name, a search count that
 * fits its slots. */
static int sound(const struct wire_frame *f)
{
    const struct sondaio_call_info *info;
    int k;
    if (f->call < 1 || f->call > SONDAIO_CALL_COUNT)
        return 0;
    info = &sondaio_call_table[f->call];
    if (f->buffers != info->buffers)
        return 0;
    for (k = 0; k < f->buffers; ++k)
        if (f->length[k] < info->size[k])
            return 0;
    if (f->call == SONDAIO_INICIAR && memchr(f->data[0], 0, f->length[0]) == NULL)
        return 0;
    if (info->size[0] == 8 * SONDAIO_SEARCH_SLOTS && (f->count < 0 || f->count > f->length[0] / 8))
        return 0;
    return 1;
}

/* A fault inside the library ends this process at once: no error box waits
 * for a user nobody told about, and the program starts a new bridge. */
static LONG WINAPI end_on_fault(EXCEPTION_POINTERS *fault)
{
    (void)fault;
    ExitProcess(3);
    return EXCEPTION_EXECUTE_HANDLER;
}

int wmain(int argc, wchar_t **argv)
{
    struct wire_frame f;
    sondaio_fn fns[SONDAIO_CALL_COUNT + 1] = {0};
    HMODULE library;
    int call;

    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(end_on_fault);
    if (argc != 3)
        return 2;
    g_pipe = (HANDLE)(uintptr_t)wcstoull(argv[1], NULL, 10);
    if (GetFileType(g_pipe) != FILE_TYPE_PIPE)
        return 2;
    /* A program the library starts does not hold the pipe open. */
    SetHandleInformation(g_pipe, HANDLE_FLAG_INHERIT, 0);

    memset(&f, 0, sizeof f);
    f.call = BRIDGE_GREETING;
    /* Libraries the maker's library needs are found beside it. */
    library = LoadLibraryExW(argv[2], NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) {
        f.value = BRIDGE_NO_LIBRARY;
        f.count = (int32_t)GetLastError();
        write_frame(&f);
        return 1;
    }
    for (call = 1; call <= SONDAIO_CALL_COUNT; ++call) {
        fns[call] = sondaio_resolve(library, call);
        if (!fns[call]) {
            f.value = BRIDGE_NO_CALL;
            f.out1 = (int16_t)call;
            write_frame(&f);
            return 1;
        }
    }
    if (write_frame(&f) != 0)
        return 1;

    while (read_frame(&f) == 0) {
        if (!sound(&f))
            return 2;
        f.value =
            sondaio_invoke(fns, f.call, f.value, f.out1, f.out2, f.count, f.data[0], f.data[1]);
        if (write_frame(&f) != 0)
            return 1;
    }
    return 0;
}
