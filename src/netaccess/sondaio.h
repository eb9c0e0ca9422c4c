/* The twelve calls of the network access library (SondaIO), as the program
 * loads them by name at run time. The simulator library in sim/ exports the
 * same calls under the same names.
 *
 * Conventions every caller and every library relies on:
 *  - results are signed 16-bit; for IniciarCNX and the reading calls a result
 *    greater than 0 means success;
 *  - the port is the zero-based port index (0 = COM1 .. 3 = COM4);
 *  - texts are 8-bit (Windows-1252) buffers the library may overwrite; the
 *    program copies them back after each call. Sizes the library may write:
 *      port name           SONDAIO_PORTNAME_LEN characters
 *      library message     SONDAIO_MSG_LEN characters (fixed text)
 *      serial              SONDAIO_SN_LEN raw bytes (any value, 0x00 too)
 *      printable serial    SONDAIO_PRINTABLE_LEN characters (ConvertSerialNum)
 *    The program always passes one byte more than that, set to NUL, so a
 *    library that terminates its texts never writes past the buffer;
 *  - a reading block is SONDAIO_BLOCK_LEN bytes; the library writes the
 *    readings as four signed 16-bit words W0..W3 in its first 8 bytes
 *    (native byte order);
 *  - a search buffer holds SONDAIO_SEARCH_SLOTS slots of 8 bytes; the
 *    program announces at most SONDAIO_SEARCH_MAX of them.
 */
#ifndef SONDAIO_H
#define SONDAIO_H

#include <stdint.h>

#ifdef _WIN32
#define SONDAIO_CALL __stdcall
#ifdef SONDAIO_BUILDING
#define SONDAIO_API __declspec(dllexport)
#else
#define SONDAIO_API
#endif
#else
#define SONDAIO_CALL
#define SONDAIO_API __attribute__((visibility("default")))
#endif

#define SONDAIO_PORTNAME_LEN 4
#define SONDAIO_MSG_LEN 100
#define SONDAIO_SN_LEN 8
#define SONDAIO_PRINTABLE_LEN 16
#define SONDAIO_BLOCK_LEN 32
#define SONDAIO_SEARCH_SLOTS 101
#define SONDAIO_SEARCH_MAX 100

#ifdef __cplusplus
extern "C" {
#endif

typedef int16_t(SONDAIO_CALL *IniciarCNX_fn)(int16_t port, char *portName, char *message);
typedef int16_t(SONDAIO_CALL *FinalizarCNX_fn)(int16_t port, char *message);
typedef int16_t(SONDAIO_CALL *LeerTemperatura_fn)(int16_t port, char *sn, void *block);
typedef int16_t(SONDAIO_CALL *LeerHRT_fn)(int16_t port, char *sn, void *block);
typedef int16_t(SONDAIO_CALL *SetupAD_fn)(int16_t port, char *sn, int16_t *setup);
typedef int16_t(SONDAIO_CALL *LeerAD_fn)(int16_t port, char *sn, void *block);
typedef int16_t(SONDAIO_CALL *LeerDET_fn)(int16_t port, char *sn, void *block);
typedef int16_t(SONDAIO_CALL *EscribirCTR_fn)(int16_t port, char *sn, int16_t out1, int16_t out2);
typedef int16_t(SONDAIO_CALL *Buscar_fn)(int16_t port, unsigned char *slots, int32_t maxCount);
typedef int16_t(SONDAIO_CALL *ConvertSerialNum_fn)(char *sn, char *printable);

SONDAIO_API int16_t SONDAIO_CALL IniciarCNX(int16_t port, char *portName, char *message);
SONDAIO_API int16_t SONDAIO_CALL FinalizarCNX(int16_t port, char *message);
SONDAIO_API int16_t SONDAIO_CALL LeerTemperatura(int16_t port, char *sn, void *block);
SONDAIO_API int16_t SONDAIO_CALL LeerHRT(int16_t port, char *sn, void *block);
SONDAIO_API int16_t SONDAIO_CALL SetupAD(int16_t port, char *sn, int16_t *setup);
SONDAIO_API int16_t SONDAIO_CALL LeerAD(int16_t port, char *sn, void *block);
SONDAIO_API int16_t SONDAIO_CALL LeerDET(int16_t port, char *sn, void *block);
SONDAIO_API int16_t SONDAIO_CALL EscribirCTR(int16_t port, char *sn, int16_t out1, int16_t out2);
SONDAIO_API int16_t SONDAIO_CALL BuscarSensoresTra(int16_t port, unsigned char *slots,
                                                   int32_t maxCount);
SONDAIO_API int16_t SONDAIO_CALL BuscarConversoresAD(int16_t port, unsigned char *slots,
                                                     int32_t maxCount);
SONDAIO_API int16_t SONDAIO_CALL BuscarDetectores(int16_t port, unsigned char *slots,
                                                  int32_t maxCount);
SONDAIO_API int16_t SONDAIO_CALL ConvertSerialNum(char *sn, char *printable);

#ifdef __cplusplus
}
#endif

#endif
