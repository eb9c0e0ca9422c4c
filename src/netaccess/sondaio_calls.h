/* The twelve calls of the network access library as a table: how each is
 * found in a loaded library and how it is made over raw buffers. Shared by
 * the program's binding and by the bridge process (plain C), so both resolve
 * and call the library the same way. */
#ifndef SONDAIO_CALLS_H
#define SONDAIO_CALLS_H

#include "sondaio.h"

#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

enum {
    SONDAIO_INICIAR = 1,
    SONDAIO_FINALIZAR,
    SONDAIO_TEMPERATURA,
    SONDAIO_HRT,
    SONDAIO_SETUPAD,
    SONDAIO_LEERAD,
    SONDAIO_LEERDET,
    SONDAIO_ESCRIBIRCTR,
    SONDAIO_BUSCAR_SENSORES,
    SONDAIO_BUSCAR_CONVERSORES,
    SONDAIO_BUSCAR_DETECTORES,
    SONDAIO_CONVERT,
    SONDAIO_CALL_COUNT = SONDAIO_CONVERT
};

/* The buffers a call takes, in argument order, and the bytes each must hold
 * at least (the port name is as long as the name, NUL included). */
struct sondaio_call_info {
    const char *name;
    int stack_bytes; /* arguments on a 32-bit stack: the "@n" of a standard-call export */
    int buffers;
    int size[2];
};

static const struct sondaio_call_info sondaio_call_table[SONDAIO_CALL_COUNT + 1] = {
    {"", 0, 0, {0, 0}},
    {"IniciarCNX", 12, 2, {SONDAIO_PORTNAME_LEN + 1, SONDAIO_MSG_LEN + 1}},
    {"FinalizarCNX", 8, 1, {SONDAIO_MSG_LEN + 1, 0}},
    {"LeerTemperatura", 12, 2, {SONDAIO_SN_LEN + 1, SONDAIO_BLOCK_LEN}},
    {"LeerHRT", 12, 2, {SONDAIO_SN_LEN + 1, SONDAIO_BLOCK_LEN}},
    {"SetupAD", 12, 2, {SONDAIO_SN_LEN + 1, 8}},
    {"LeerAD", 12, 2, {SONDAIO_SN_LEN + 1, SONDAIO_BLOCK_LEN}},
    {"LeerDET", 12, 2, {SONDAIO_SN_LEN + 1, SONDAIO_BLOCK_LEN}},
    {"EscribirCTR", 16, 1, {SONDAIO_SN_LEN + 1, 0}},
    {"BuscarSensoresTra", 12, 1, {8 * SONDAIO_SEARCH_SLOTS, 0}},
    {"BuscarConversoresAD", 12, 1, {8 * SONDAIO_SEARCH_SLOTS, 0}},
    {"BuscarDetectores", 12, 1, {8 * SONDAIO_SEARCH_SLOTS, 0}},
    {"ConvertSerialNum", 8, 2, {SONDAIO_SN_LEN + 1, SONDAIO_PRINTABLE_LEN + 1}},
};

typedef void (*sondaio_fn)(void);

static inline sondaio_fn sondaio_symbol(void *library, const char *name)
{
#ifdef _WIN32
    return (sondaio_fn)GetProcAddress((HMODULE)library, name);
#else
    sondaio_fn fn;
    void *address = dlsym(library, name);
    memcpy(&fn, &address, sizeof fn);
    return fn;
#endif
}

/* The call's address: its plain name, or the names compilers give a
 * standard-call export ("_IniciarCNX@12", "IniciarCNX@12"). */
static inline sondaio_fn sondaio_resolve(void *library, int call)
{
    const struct sondaio_call_info *info = &sondaio_call_table[call];
    char decorated[64];
    sondaio_fn fn = sondaio_symbol(library, info->name);
    if (!fn) {
        snprintf(decorated, sizeof decorated, "_%s@%d", info->name, info->stack_bytes);
        fn = sondaio_symbol(library, decorated);
    }
    if (!fn)
        fn = sondaio_symbol(library, decorated + 1);
    return fn;
}

/* Makes one call with its arguments and buffers; the buffers hold at least
 * the table's sizes. */
static inline int16_t sondaio_invoke(sondaio_fn const fns[SONDAIO_CALL_COUNT + 1], int call,
                                     int16_t port, int16_t out1, int16_t out2, int32_t count,
                                     unsigned char *b0, unsigned char *b1)
{
    char *t0 = (char *)b0;
    char *t1 = (char *)b1;
    switch (call) {
    case SONDAIO_INICIAR:
        return ((IniciarCNX_fn)fns[call])(port, t0, t1);
    case SONDAIO_FINALIZAR:
        return ((FinalizarCNX_fn)fns[call])(port, t0);
    case SONDAIO_TEMPERATURA:
    case SONDAIO_HRT:
    case SONDAIO_LEERAD:
    case SONDAIO_LEERDET:
        return ((LeerTemperatura_fn)fns[call])(port, t0, b1);
    case SONDAIO_SETUPAD:
        return ((SetupAD_fn)fns[call])(port, t0, (int16_t *)(void *)b1);
    case SONDAIO_ESCRIBIRCTR:
        return ((EscribirCTR_fn)fns[call])(port, t0, out1, out2);
    case SONDAIO_BUSCAR_SENSORES:
    case SONDAIO_BUSCAR_CONVERSORES:
    case SONDAIO_BUSCAR_DETECTORES:
        return ((Buscar_fn)fns[call])(port, b0, count);
    case SONDAIO_CONVERT:
        return ((ConvertSerialNum_fn)fns[call])(t0, t1);
    default:
        return 0;
    }
}

#endif
