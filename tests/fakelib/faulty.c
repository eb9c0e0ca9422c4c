// A network library that fails as a real one can, for the bridge: LeerHRT
// faults, LeerAD never returns. LeerTemperatura answers from the port and
// the serial's bytes, only on a port opened in its own process. What
// SONDAIO_FAULT names it does besides: prints on its standard output while
// loading, in IniciarCNX or in LeerTemperatura ("print on load",
// "print on open", "print on read"), or ends its process or never returns
// while loading ("end on load", "hang on load").
#include "sondaio.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

static int g_open[4];
static char g_fault[32];

// Through the C runtime and through the system's handle, as libraries do.
static void print(const char *when)
{
    DWORD put;
    if (strcmp(g_fault, when) != 0)
        return;
    printf("SondaIO: %s\n", when);
    fflush(stdout);
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "SondaIO\r\n", 9, &put, NULL);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    if (reason != DLL_PROCESS_ATTACH ||
        !GetEnvironmentVariableA("SONDAIO_FAULT", g_fault, sizeof g_fault))
        return TRUE;
    print("print on load");
    if (strcmp(g_fault, "end on load") == 0)
        TerminateProcess(GetCurrentProcess(), 7);
    if (strcmp(g_fault, "hang on load") == 0)
        Sleep(INFINITE);
    return TRUE;
}

int16_t SONDAIO_CALL IniciarCNX(int16_t port, char *portName, char *message)
{
    print("print on open");
    return (int16_t)(g_open[port & 3] = 1);
}

int16_t SONDAIO_CALL LeerTemperatura(int16_t port, char *sn, void *block)
{
    int16_t words[4];
    int k;
    print("print on read");
    for (k = 0; k < 4; ++k)
        words[k] = (int16_t)(100 * port + (unsigned char)sn[k]);
    memcpy(block, words, sizeof words);
    return (int16_t)g_open[port & 3];
}

int16_t SONDAIO_CALL LeerHRT(int16_t port, char *sn, void *block)
{
    RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, NULL);
    return 1;
}

int16_t SONDAIO_CALL LeerAD(int16_t port, char *sn, void *block)
{
    return (int16_t)(Sleep(INFINITE), 1);
}

int16_t SONDAIO_CALL FinalizarCNX(int16_t port, char *message) { return 1; }
int16_t SONDAIO_CALL SetupAD(int16_t port, char *sn, int16_t *setup) { return 1; }
int16_t SONDAIO_CALL LeerDET(int16_t port, char *sn, void *block) { return 0; }
int16_t SONDAIO_CALL EscribirCTR(int16_t port, char *sn, int16_t out1, int16_t out2) { return 1; }
int16_t SONDAIO_CALL BuscarSensoresTra(int16_t port, unsigned char *slots, int32_t maxCount)
{
    return 0;
}
int16_t SONDAIO_CALL BuscarConversoresAD(int16_t port, unsigned char *slots, int32_t maxCount)
{
    return 0;
}
int16_t SONDAIO_CALL BuscarDetectores(int16_t port, unsigned char *slots, int32_t maxCount)
{
    return 0;
}
int16_t SONDAIO_CALL ConvertSerialNum(char *sn, char *printable) { return 1; }
