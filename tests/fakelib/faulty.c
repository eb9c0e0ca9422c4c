/* A network library that fails as a real one can, for the bridge: LeerHRT
 * faults, LeerAD never returns. Its other calls answer from the serial's
 * bytes, so an answer that belongs to another call shows. Ports are open
 * only in the process that opened them. */
#include "sondaio.h"

#include <string.h>
#include <windows.h>

static int g_open[4];

static int opened(int16_t port) { return port >= 0 && port < 4 && g_open[port]; }

int16_t SONDAIO_CALL IniciarCNX(int16_t port, char *portName, char *message)
{
    if (port < 0 || port >= 4)
        return 0;
    g_open[port] = 1;
    strcpy(message, "abierto ");
    strncat(message, portName, 8);
    return 1;
}

int16_t SONDAIO_CALL FinalizarCNX(int16_t port, char *message)
{
    (void)message;
    if (opened(port))
        g_open[port] = 0;
    return 1;
}

int16_t SONDAIO_CALL LeerTemperatura(int16_t port, char *sn, void *block)
{
    int16_t words[4];
    int k;
    if (!opened(port))
        return 0;
    for (k = 0; k < 4; ++k)
        words[k] = (int16_t)(100 * port + (unsigned char)sn[k]);
    memcpy(block, words, sizeof words);
    return 1;
}

int16_t SONDAIO_CALL LeerHRT(int16_t port, char *sn, void *block)
{
    (void)port;
    (void)sn;
    (void)block;
    RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, NULL);
    return 1;
}

int16_t SONDAIO_CALL SetupAD(int16_t port, char *sn, int16_t *setup)
{
    (void)port;
    (void)sn;
    (void)setup;
    return 1;
}

int16_t SONDAIO_CALL LeerAD(int16_t port, char *sn, void *block)
{
    (void)port;
    (void)sn;
    (void)block;
    Sleep(INFINITE);
    return 1;
}

int16_t SONDAIO_CALL LeerDET(int16_t port, char *sn, void *block) { return LeerTemperatura(port, sn, block); }

int16_t SONDAIO_CALL EscribirCTR(int16_t port, char *sn, int16_t out1, int16_t out2)
{
    (void)sn;
    (void)out1;
    (void)out2;
    return opened(port);
}

static int16_t none(int16_t port, unsigned char *slots, int32_t maxCount)
{
    (void)port;
    (void)slots;
    (void)maxCount;
    return 0;
}

int16_t SONDAIO_CALL BuscarSensoresTra(int16_t port, unsigned char *slots, int32_t maxCount) { return none(port, slots, maxCount); }
int16_t SONDAIO_CALL BuscarConversoresAD(int16_t port, unsigned char *slots, int32_t maxCount) { return none(port, slots, maxCount); }
int16_t SONDAIO_CALL BuscarDetectores(int16_t port, unsigned char *slots, int32_t maxCount) { return none(port, slots, maxCount); }

int16_t SONDAIO_CALL ConvertSerialNum(char *sn, char *printable)
{
    memcpy(printable, sn, 8);
    return 1;
}
